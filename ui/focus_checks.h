#pragma once

#include <functional>
#include <map>

#include <QObject>
#include <QPointer>
#include <QStringList>

class Prompter;
class QLineEdit;
class QWidget;

/// The checks that run when the user leaves a box for another control of the
/// form (Tab, Shift+Tab, a click, an access key): each message in turn, then
/// the focus goes back to the box. Nothing is checked when the window loses
/// the focus, when a menu or a dialog opens, when the focus goes outside the
/// form, or when the program moves the focus itself.
class FocusChecks final : public QObject {
    Q_OBJECT

public:
    /// The messages that a box deserves for what it holds now; none when fine.
    using Check = std::function<QStringList()>;

    FocusChecks(QWidget* form, Prompter& prompter);

    void watch(QLineEdit* box, Check check);

    /// Runs at once the check of a box just left, if it is still waiting.
    /// False when it found a fault.
    bool settle();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool run_pending();

    QWidget* form_;
    Prompter& prompter_;
    std::map<QObject*, Check> checks_;
    QPointer<QLineEdit> pending_;
    bool showing_ = false;
};
