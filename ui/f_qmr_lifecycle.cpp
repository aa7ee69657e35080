// The window's life beside its tray icon: start-up, hiding and restoring,
// and the way out, asked or not.

#include "ui/f_qmr.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "ui/f_help.h"
#include "ui/journal_window.h"
#include "ui/prompter.h"
#include "ui/schedule_grid.h"
#include "ui/tray_host.h"

void f_qmr::connect_tray() {
    TrayHost& tray = services_.tray;
    connect(&tray, &TrayHost::activation_requested, this, &f_qmr::bring_to_front);
    connect(&tray, &TrayHost::quit_requested, this, &QWidget::close);
    connect(&tray, &TrayHost::availability_changed, this, &f_qmr::tray_availability_changed);
    // The notice told of a run: the journal shows what it did.
    connect(&tray, &TrayHost::notice_clicked, this, [this] { open_journal(last_notified_run_); });
}

void f_qmr::Form_Load(const Result<LoadReport>& report) {
    services_.tray.show_icon();
    grid_->select_line(1);
    scheduler_->start();

    const bool start_in_tray = preference_set(start_in_tray_file);
    if (!start_in_tray) {
        bring_to_front();
    } else if (!services_.tray.is_active()) {
        // At the start of a session the notification area may come a little
        // after the programs; without one, the window is all there is.
        waiting_for_tray_ = true;
        QTimer::singleShot(services_.tray_wait, this, [this] {
            if (waiting_for_tray_ && !closing_)
                bring_to_front();
        });
    }

    if (report)
        load_report_ = *report;
    else
        unread_error_ = report.error();
    tell_load_problems(report);
    if (const QStringList problems = scheduler_->untold_problems(); !problems.isEmpty())
        warn(problems.join(QStringLiteral("\n\n")));
    tell_memory_notice();
}

void f_qmr::tell_load_problems(const Result<LoadReport>& report) {
    if (!report) {
        services_.prompter.error(this, QString::fromStdString(report.error()) +
                                           QStringLiteral(" Aucune planification n'est affichée, et rien ne sera "
                                                          "enregistré tant qu'il ne pourra pas être lu."));
        return;
    }
    if (report->repairs.empty())
        return;
    QString text = QStringLiteral("Le fichier des planifications « %1 » est abîmé ; il a été lu au mieux :")
                       .arg(QString::fromStdString(services_.data_folder + schedule_file_name));
    for (const std::string& repair : report->repairs)
        text += QStringLiteral("\n- ") + QString::fromStdString(repair);
    text += QStringLiteral("\nUne copie du fichier tel qu'il est sera gardée au premier enregistrement.");
    warn(text);
}

void f_qmr::warn(const QString& text) {
    services_.prompter.ask(this, PromptIcon::exclamation, QStringLiteral("Quillmoor"), text, {PromptButton::ok});
}

void f_qmr::bring_to_front() {
    waiting_for_tray_ = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    centre_on_screen();
    raise();
    activateWindow();
}

void f_qmr::centre_on_screen() {
    // Wayland leaves the place of a window to the compositor.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
        windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = this->screen();
    const QRect area = screen->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    // A window larger than the area keeps its title bar within reach.
    move(std::max(frame.left(), area.left()), std::max(frame.top(), area.top()));
}

void f_qmr::hide_window() {
    // Hidden with no icon to click, the window would be out of reach.
    if (services_.tray.is_active())
        hide();
    else
        showMinimized();
}

void f_qmr::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !services_.tray.is_active())
        return;
    // Hidden once the change of state is over: some window managers keep a
    // task-bar entry for a window hidden in the middle of it.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized() && services_.tray.is_active())
            hide();
    });
}

void f_qmr::tray_availability_changed(bool available) {
    if (available) {
        if (waiting_for_tray_) {
            waiting_for_tray_ = false;
            services_.tray.show_icon();
        }
    } else if (!closing_ && !waiting_for_tray_ && !isVisible()) {
        // The icon that was to bring the window back is gone.
        bring_to_front();
    }
}

bool f_qmr::question_open() const {
    return services_.prompter.is_open();
}

void f_qmr::notify(const QString& text, std::int64_t run_id) {
    last_notified_run_ = run_id;
    // Without a tray, the window is on the desktop: its status line says it.
    if (services_.tray.is_active())
        services_.tray.show_notification(QStringLiteral("Quillmoor"), text);
    else
        show_status(text.toStdString());
}

void f_qmr::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        const PromptButton answer = services_.prompter.ask(
            this, PromptIcon::question, QStringLiteral("Quillmoor"),
            QStringLiteral("Voulez-vous vraiment quitter Quillmoor ?\r\nLes tâches plannifiées ne seront pas "
                           "exécutées."),
            {PromptButton::yes, PromptButton::no});
        // The program may have been ended from outside while the box was open.
        if (answer != PromptButton::yes && !closing_) {
            event->ignore();
            return;
        }
    }
    shut_down();
    event->accept();
}

void f_qmr::close_without_asking() {
    shut_down();
    hide();
}

void f_qmr::shut_down() {
    if (shut_down_)
        return;
    shut_down_ = true;
    // A run in progress sees the stop at its next yield and ends before its
    // next fetch; the window is not deleted, so the run can unwind.
    closing_ = true;
    waiting_for_tray_ = false;
    scheduler_->stop();
    services_.tray.remove_icon();
    if (help_)
        help_->close();
    if (journal_)
        journal_->close();
    emit quit_requested();
}
