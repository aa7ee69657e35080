#include "ui/f_qmr.h"

#include <cerrno>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "quillmoor_version.h"
#include "store/atomic_file.h"
#include "store/error_text.h"
#include "ui/accessible_lists.h"
#include "ui/extraction_form.h"
#include "ui/f_help.h"
#include "ui/journal_window.h"
#include "ui/prompter.h"
#include "ui/schedule_grid.h"

f_qmr::f_qmr(WindowServices services, ScheduleTable table, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)), table_(std::move(table)),
      run_(services_.transfer, *this, services_.memory), session_start_(services_.launcher) {
    setObjectName(QStringLiteral("f_qmr"));
    install_accessible_list_names();
    setWindowTitle(QStringLiteral("Quillmoor"));

    auto* central = new QWidget;
    form_ = new ExtractionForm(services_.volumes, services_.start_folder, services_.prompter);
    grid_ = new ScheduleGrid;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(form_, 3);
    layout->addWidget(grid_, 2);
    setCentralWidget(central);
    // 677 x 527 pixels at 96 dpi, or more when the captions need it in the
    // desktop's font: a minimum set by hand would override the layouts'.
    central->setMinimumSize(central->minimumSizeHint().expandedTo(QSize(677, 527)));

    build_menus();
    connect(form_->Command2, &QPushButton::clicked, this, &f_qmr::Command2_Click);
    connect(grid_->Command3, &QPushButton::clicked, this, &f_qmr::Command3_Click);
    connect(grid_->Command4, &QPushButton::clicked, this, &f_qmr::Command4_Click);
    connect(grid_->Command6, &QPushButton::clicked, this, &f_qmr::Command6_Click);
    set_focus_order();

    set_background(StatusBackground::button_face);
    grid_->fill(table_);
    reinit();

    scheduler_ = new Scheduler(*this, services_.clock, this);
    transfer_timer_ = new QTimer(this);
    transfer_timer_->setInterval(50);
    connect(transfer_timer_, &QTimer::timeout, this, [this] { services_.transfer.serve_in_passing(); });
    connect_tray();
}

f_qmr::~f_qmr() {
    if (cursor_busy_)
        QApplication::restoreOverrideCursor();
}

f_help* f_qmr::help_window() const {
    return help_;
}

JournalWindow* f_qmr::journal_window() const {
    return journal_;
}

void f_qmr::build_menus() {
    auto action = [this](QMenu* menu, const QString& caption, const char* name) {
        QAction* item = menu->addAction(caption);
        item->setObjectName(QLatin1String(name));
        return item;
    };
    QMenu* m_fichier = menuBar()->addMenu(QStringLiteral("&Fichier"));
    m_fichier->setObjectName(QStringLiteral("m_fichier"));
    m_tache = action(m_fichier, QStringLiteral("Réduire"), "m_tache");
    m_quitter = action(m_fichier, QStringLiteral("Quitter"), "m_quitter");
    QMenu* m_fenetre = menuBar()->addMenu(QStringLiteral("Fe&nêtre"));
    m_fenetre->setObjectName(QStringLiteral("m_fenetre"));
    m_reinit = action(m_fenetre, QStringLiteral("Réinitialiser"), "m_reinit");
    m_journal = action(m_fenetre, QStringLiteral("Journal"), "m_journal");
    QMenu* m_options = menuBar()->addMenu(QStringLiteral("&Options"));
    m_options->setObjectName(QStringLiteral("m_options"));
    m_tb = action(m_options, QStringLiteral("&Démarrer dans la barre de tâche"), "m_tb");
    m_formats = action(m_options, QStringLiteral("Tous les formats d'image (PNG, WebP, AVIF, SVG)"), "m_formats");
    m_session = action(m_options, QStringLiteral("Démarrer avec la session"), "m_session");
    m_tb->setCheckable(true);
    m_tb->setChecked(preference_set(start_in_tray_file));
    m_formats->setCheckable(true);
    m_formats->setChecked(preference_set(all_image_formats_file));
    form_->set_all_image_formats(m_formats->isChecked());
    m_session->setCheckable(true);
    // Without its own path, the program could not be started by the session.
    m_session->setEnabled(services_.launcher.starts_with('/'));
    // The desktop's own settings may add or remove the entry meanwhile.
    connect(m_options, &QMenu::aboutToShow, this, [this] { m_session->setChecked(session_start_.enabled()); });
    m_session->setChecked(session_start_.enabled());
    QMenu* m_interro = menuBar()->addMenu(QStringLiteral("&?"));
    m_interro->setObjectName(QStringLiteral("m_interro"));
    m_aide = action(m_interro, QStringLiteral("Aide..."), "m_aide");
    m_apropos = action(m_interro, QStringLiteral("&A propos..."), "m_apropos");

    connect(m_tache, &QAction::triggered, this, &f_qmr::hide_window);
    connect(m_quitter, &QAction::triggered, this, &QWidget::close);
    connect(m_reinit, &QAction::triggered, this, &f_qmr::reinit);
    connect(m_journal, &QAction::triggered, this, &f_qmr::m_journal_Click);
    connect(m_tb, &QAction::triggered, this, &f_qmr::m_tb_Click);
    connect(m_formats, &QAction::triggered, this, &f_qmr::m_formats_Click);
    connect(m_session, &QAction::triggered, this, &f_qmr::m_session_Click);
    connect(m_aide, &QAction::triggered, this, &f_qmr::m_aide_Click);
    connect(m_apropos, &QAction::triggered, this, &f_qmr::m_apropos_Click);
}

void f_qmr::set_focus_order() {
    QList<QWidget*> chain = form_->focus_chain();
    chain << grid_->gri << grid_->Command3 << grid_->Command6 << grid_->Command4 << form_->Option4[2];
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

void f_qmr::reinit() {
    form_->reset();
    for (QPushButton* command : {form_->Command2, grid_->Command3, grid_->Command4, grid_->Command6})
        command->setEnabled(true);
    ExtractionForm::focus_quietly(form_->Text1);
}

void f_qmr::set_commands_locked(bool locked) {
    for (QPushButton* command : {form_->Command2, grid_->Command3, grid_->Command4, grid_->Command6})
        command->setEnabled(!locked);
    m_reinit->setEnabled(!locked);
    if (locked && !cursor_busy_)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else if (!locked && cursor_busy_)
        QApplication::restoreOverrideCursor();
    cursor_busy_ = locked;
}

void f_qmr::show_status(const std::string& text) {
    form_->Label4->setText(QString::fromStdString(text));
}

// Busy is the status line's own blue, RGB (128, 128, 255); idle, the
// button face of the desktop's palette.
void f_qmr::set_background(StatusBackground background) {
    QPalette palette = form_->Label4->palette();
    palette.setColor(QPalette::Window, background == StatusBackground::busy ? QColor(128, 128, 255)
                                                                            : this->palette().color(QPalette::Button));
    form_->Label4->setPalette(palette);
}

void f_qmr::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void f_qmr::m_aide_Click() {
    // One help window at a time, beside the main window, which stays usable.
    if (!help_)
        help_ = new f_help(this);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void f_qmr::m_journal_Click() {
    open_journal(0);
}

void f_qmr::open_journal(std::int64_t run) {
    // One journal window at a time, like the help window.
    if (!journal_)
        journal_ = new JournalWindow(services_.journal, this);
    journal_->show_run(run);
    journal_->show();
    journal_->raise();
    journal_->activateWindow();
}

void f_qmr::m_apropos_Click() {
    services_.prompter.ask(this, PromptIcon::information, QStringLiteral("A propos"),
                           QString::fromUtf8(program_and_version), {PromptButton::ok});
}

bool f_qmr::preference_set(const char* file_name) const {
    return ::access((services_.data_folder + file_name).c_str(), F_OK) == 0;
}

void f_qmr::m_session_Click() {
    switch_preference(m_session, session_start_.path(),
                      [this](bool wanted) { return session_start_.set_enabled(wanted); });
}

void f_qmr::m_tb_Click() {
    switch_preference(m_tb, start_in_tray_file);
}

void f_qmr::m_formats_Click() {
    switch_preference(m_formats, all_image_formats_file);
    form_->set_all_image_formats(m_formats->isChecked());
}

void f_qmr::switch_preference(QAction* item, const char* file_name) {
    const std::string path = services_.data_folder + file_name;
    switch_preference(item, path, [&path](bool wanted) -> Result<void> {
        if (wanted)
            return write_file_atomically(path, "\"1\"\r\n", Durability::flush_to_disk);
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return Error{error_text(errno)};
        return {};
    });
}

void f_qmr::switch_preference(QAction* item, const std::string& path, const std::function<Result<void>(bool)>& apply) {
    // The tick shows what is on disk, whatever the click asked for.
    const bool wanted = item->isChecked();
    const Result<void> applied = apply(wanted);
    item->setChecked(::access(path.c_str(), F_OK) == 0);
    if (!applied) {
        services_.prompter.error(this, QStringLiteral("La préférence « %1 » n'a pas pu être %2 (%3).")
                                           .arg(QString::fromStdString(path),
                                                wanted ? QStringLiteral("enregistrée") : QStringLiteral("supprimée"),
                                                QString::fromStdString(applied.error())));
    }
}
