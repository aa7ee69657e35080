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
    virtual PromptButton ask(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                             const QList<PromptButton>& buttons) = 0;

    /// The box of an error the user can correct: title "Erreur", the
    /// exclamation icon and one OK button.
    void error(QWidget* parent, const QString& text);
};

/// Shows real QMessageBox dialogs.
class MessageBoxPrompter final : public Prompter {
public:
    PromptButton ask(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                     const QList<PromptButton>& buttons) override;
};
