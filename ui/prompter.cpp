#include "ui/prompter.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon message_box_icon(PromptIcon icon) {
    switch (icon) {
    case PromptIcon::information:
        return QMessageBox::Information;
    case PromptIcon::exclamation:
        return QMessageBox::Warning;
    case PromptIcon::question:
        return QMessageBox::Question;
    case PromptIcon::critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton standard_button(PromptButton button) {
    switch (button) {
    case PromptButton::ok:
        return QMessageBox::Ok;
    case PromptButton::yes:
        return QMessageBox::Yes;
    case PromptButton::no:
        return QMessageBox::No;
    case PromptButton::cancel:
        return QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

/// The button's caption in the program's language, whatever the desktop's.
QString caption(PromptButton button) {
    switch (button) {
    case PromptButton::ok:
        return QStringLiteral("OK");
    case PromptButton::yes:
        return QStringLiteral("&Oui");
    case PromptButton::no:
        return QStringLiteral("&Non");
    case PromptButton::cancel:
        return QStringLiteral("Annuler");
    }
    return {};
}

} // namespace

PromptButton Prompter::ask(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                           const QList<PromptButton>& buttons) {
    // Counted, not flagged: a box may open over another one.
    ++open_boxes_;
    const PromptButton answer = show_box(parent, icon, title, text, buttons);
    --open_boxes_;
    return answer;
}

void Prompter::error(QWidget* parent, const QString& text) {
    ask(parent, PromptIcon::exclamation, QStringLiteral("Erreur"), text, {PromptButton::ok});
}

PromptButton MessageBoxPrompter::show_box(QWidget* parent, PromptIcon icon, const QString& title, const QString& text,
                                          const QList<PromptButton>& buttons) {
    QMessageBox box(message_box_icon(icon), title, text, QMessageBox::NoButton, parent);
    for (const PromptButton button : buttons)
        box.addButton(standard_button(button))->setText(caption(button));
    if (!buttons.isEmpty()) {
        box.setDefaultButton(standard_button(buttons.first()));
        box.setEscapeButton(box.button(standard_button(buttons.last())));
    }
    const int chosen = box.exec();
    for (const PromptButton button : buttons)
        if (chosen == standard_button(button))
            return button;
    return buttons.isEmpty() ? PromptButton::ok : buttons.last();
}
