#include "ui/wait_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

bool wait_with_message(const QString& text, const std::function<bool()>& attempt, std::chrono::milliseconds interval) {
    if (attempt())
        return true;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Quillmoor"), text);
    box.setObjectName(QStringLiteral("wait_box"));
    QPushButton* give_up = box.addButton(QStringLiteral("Quitter"), QMessageBox::RejectRole);
    box.setEscapeButton(give_up);
    bool succeeded = false;
    QTimer retry;
    retry.setInterval(interval);
    QObject::connect(&retry, &QTimer::timeout, &box, [&] {
        if (attempt()) {
            succeeded = true;
            retry.stop();
            box.done(QDialog::Accepted);
        }
    });
    retry.start();
    box.exec();
    return succeeded;
}
