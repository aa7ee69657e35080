#pragma once

#include <QList>
#include <QString>

class QWidget;

/// The icon of a message box.
enum class PromptIcon { information, exclamation, question, critical };

/// The buttons a message box can offer, and the answer it gives.
enum class PromptButton { ok, yes, no, cancel };

/// Every message box of the window goes through one of these, so that a test
/// can read what would have been shown and answer it without a dialog.
class Prompter {
public:
    virtual ~Prompter() = default;

    /// Shows a modal message box over `parent` and returns the button chosen.
    /// Closing the box without a button answers the last button offered.
    PromptButton ask(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                     const QList<PromptButton>& buttons);

    /// The box of an error the user can correct: title "Erreur", the
    /// exclamation icon and one OK button.
    void error(QWidget* parent, const QString& text);

    /// True while a box is waiting for its answer: the scheduler does not
    /// start a pass under a question the user has not answered yet.
    bool is_open() const { return open_boxes_ > 0; }

protected:
    /// Shows the box and waits for the answer.
    virtual PromptButton show_box(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                                  const QList<PromptButton>& buttons) = 0;

private:
    int open_boxes_ = 0;
};

/// Shows real QMessageBox dialogs.
class MessageBoxPrompter final : public Prompter {
protected:
    PromptButton show_box(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                          const QList<PromptButton>& buttons) override;
};
