#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

/// The help window "Aide": the help text, which the user may edit but which
/// is fresh at every opening, and "Ok", which closes and discards the window.
class f_help final : public QWidget {
    Q_OBJECT

public:
    /// A window of its own over `owner`, deleted when it is closed.
    explicit f_help(QWidget* owner);

    /// The help text, 32 lines each ended by CR LF.
    static QString help_text();

    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr; ///< "Ok"
};
