#include "ui/focus_checks.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTimer>

#include "ui/prompter.h"

FocusChecks::FocusChecks(QWidget* form, Prompter& prompter) : QObject(form), form_(form), prompter_(prompter) {}

void FocusChecks::watch(QLineEdit* box, Check check) {
    checks_[box] = std::move(check);
    box->installEventFilter(this);
}

bool FocusChecks::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusOut || showing_)
        return false;
    // Only the user's own moves: a window that loses the focus, a menu or a
    // dialog that opens and the program's setFocus come with other reasons.
    switch (static_cast<QFocusEvent*>(event)->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::ShortcutFocusReason:
        break;
    default:
        return false;
    }
    pending_ = qobject_cast<QLineEdit*>(watched);
    // After the move: the new focus is known then, and the message does not
    // interrupt the focus change itself.
    QTimer::singleShot(0, this, [this] { run_pending(); });
    return false;
}

bool FocusChecks::settle() {
    return run_pending();
}

bool FocusChecks::run_pending() {
    QLineEdit* box = pending_;
    pending_ = nullptr;
    if (!box || showing_)
        return true;
    // The grid and its buttons, another window or no focus at all: the user
    // has not moved to another control of the form, so there is nothing to say.
    QWidget* now = QApplication::focusWidget();
    if (!now || now == box || !form_->isAncestorOf(now))
        return true;

    const QStringList messages = checks_.at(box)();
    if (messages.isEmpty())
        return true;
    showing_ = true;
    for (const QString& message : messages)
        prompter_.error(form_->window(), message);
    showing_ = false;
    box->setFocus(Qt::OtherFocusReason);
    return false;
}
