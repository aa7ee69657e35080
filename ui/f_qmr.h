#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "engine/extraction_run.h"
#include "engine/run_observer.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"
#include "ui/scheduler.h"
#include "ui/session_start.h"
#include "ui/volumes.h"

class Clock;
class ExtractionForm;
class ImageMemory;
class InternetTransfer;
class JournalWindow;
class Prompter;
class QAction;
class QMenu;
class QTimer;
class RunJournal;
class ScheduleGrid;
class TrayHost;
class f_help;

/// What the main window works with, given by whoever builds it: the program
/// gives the real ones, tests their own.
struct WindowServices {
    std::string data_folder; ///< where planifs.txt and pref1.txt live, ending in "/"
    InternetTransfer& transfer;
    ImageMemory& memory;  ///< what the runs remember of the images they write
    RunJournal& journal;  ///< what each run did, as the journal window shows it
    Clock& clock;         ///< the date and time of the stamps
    Prompter& prompter;   ///< every message box
    TrayHost& tray;       ///< the notification area, if the desktop has one
    VolumeSource volumes; ///< what the drive list offers
    QString start_folder; ///< the folder the directory list opens first
    /// How long a start in the tray waits for a notification area that is not
    /// there yet (the session is still starting) before showing the window.
    std::chrono::milliseconds tray_wait{10'000};
    /// The absolute path of the quillmoor program, which the session starts
    /// when the user asks for it; "" when unknown.
    std::string launcher = {};
};

/// The main window "Quillmoor": the extraction form, the schedule grid and its
/// commands, the menus, the status line of the runs, and the scheduler. It
/// owns the stored extractions and keeps the grid, the table and planifs.txt
/// alike after every command. It lives beside its tray icon: minimised, it
/// hides while the icon is there to bring it back.
class f_qmr final : public QMainWindow, public RunObserver, private SchedulerHost {
    Q_OBJECT

public:
    /// `table` is the schedule as loaded from planifs.txt in the data folder.
    f_qmr(WindowServices services, ScheduleTable table, QWidget* parent = nullptr);
    ~f_qmr() override;

    /// Start-up, once the window is built: the tray icon, the scheduler's
    /// timer from a tick count of 0, then the window shown centred with the
    /// focus in the title box, or only the icon when pref1.txt exists. Then
    /// it says what `report` found wrong with planifs.txt: a damaged file, or
    /// one that could not be read, which no save replaces until it can be.
    void Form_Load(const Result<LoadReport>& report = LoadReport{});

    /// Clears the minimised state, shows the window centred on the screen
    /// under the pointer, raises and activates it: a click on the tray icon,
    /// "&Restaurer", or a second start of the program.
    void bring_to_front();
    /// "Réduire": hides the window while the tray icon is there to bring it
    /// back, else only minimises it.
    void hide_window();
    /// Ends the program without asking: the session is ending, or the
    /// program was told to stop (SIGTERM).
    void close_without_asking();

    ExtractionForm* form() const { return form_; }
    ScheduleGrid* grid() const { return grid_; }
    const ScheduleTable& table() const { return table_; }
    /// The help window while it is open.
    f_help* help_window() const;
    /// The journal window while it is open.
    JournalWindow* journal_window() const;
    Scheduler* scheduler() const { return scheduler_; }
    /// The run in the journal that the last notice was about; 0 when it was
    /// about no run.
    std::int64_t last_notified_run() const { return last_notified_run_; }

    /// Puts the form back to its defaults, enables "Plannifier" and the grid's
    /// buttons, and puts the focus in the title box.
    void reinit();

    /// Runs stored line `numligne` (1 to line_count) with this window as the
    /// observer, and records it in the journal as started by the button, or
    /// by the schedule in RunMode::scheduled. Stamps and saves nothing: that
    /// is the caller's part. already_running, doing nothing, while another
    /// run is in progress.
    RunOutcome traite_ligne_detail(int numligne, RunMode mode);

    /// Locks the commands that change the schedule ("Plannifier", "Supprimer",
    /// "Editer", "Extraire maintenant !", "Réinitialiser") and shows the busy
    /// pointer, or undoes both.
    void set_commands_locked(bool locked) override;

    bool run_in_progress() const override { return run_.running(); }

    /// Stamps line `number` with the clock's date and time and saves the
    /// schedule. On a failed save the stamp is taken back, an "Erreur" message
    /// says why, and false is returned.
    bool stamp_and_save(int number);

    // RunObserver: the status line, its colour, and the event loop.
    void show_status(const std::string& text) override;
    void set_background(StatusBackground background) override;
    void yield() override;
    bool stop_requested() const override { return closing_; }

public slots:
    void Command2_Click(); ///< "Plannifier"
    void Command3_Click(); ///< "Supprimer"
    void Command4_Click(); ///< "Editer"
    void Command6_Click(); ///< "Extraire maintenant !"
    void m_aide_Click();
    void m_apropos_Click();
    void m_tb_Click();
    void m_formats_Click(); ///< "Tous les formats d'image (PNG, WebP, AVIF, SVG)"
    void m_journal_Click(); ///< "Journal"
    void m_session_Click(); ///< "Démarrer avec la session"
    /// Opens the journal window, or brings it forward read afresh, at run
    /// `run`; for 0, at the run it showed, else the newest.
    void open_journal(std::int64_t run);

signals:
    /// The window was closed: the program is to end. A run in progress stops
    /// before its next fetch and is not stamped.
    void quit_requested();

protected:
    /// Asks "Voulez-vous vraiment quitter Quillmoor ?" unless the program is
    /// being ended from outside; No leaves everything as it was.
    void closeEvent(QCloseEvent* event) override;
    /// Minimised from the title bar: hidden, as "Réduire" does.
    void changeEvent(QEvent* event) override;

private:
    void build_menus();
    void set_focus_order();
    void connect_tray();
    void tray_availability_changed(bool available);
    /// Stops the run, the timer, the icon and the help window, and asks the
    /// program to end; once only.
    void shut_down();
    void centre_on_screen();
    /// Says at start-up what loading found wrong with planifs.txt.
    void tell_load_problems(const Result<LoadReport>& report);
    void warn(const QString& text);
    /// Tells what the memory of the images and the journal have to say, if anything.
    void tell_memory_notice();
    /// traite_ligne_detail, for a scheduled run late since `due`; the run's
    /// id in the journal goes to `recorded`.
    RunOutcome run_and_record(int number, RunMode mode, std::optional<std::int64_t> due, std::int64_t& recorded);

    /// Saves the table; shows an "Erreur" message and returns false when it
    /// cannot be written.
    bool save_table();
    /// Writes planifs.txt from the table unless it could not be read. `copy`
    /// gets the path of a copy of the damaged file kept before it was
    /// replaced, if this save made one.
    Result<void> write_schedule(std::string& copy);
    /// Before a command changes the table: reads planifs.txt again if it
    /// could not be read at start-up. False, after saying why, while it still
    /// cannot.
    bool schedule_readable();
    /// Whether the preference file `file_name` is in the data folder.
    bool preference_set(const char* file_name) const;
    /// For a preference item of "Options": `apply` writes or deletes the
    /// file at `path` as the new tick asks; the item is then ticked as the
    /// disk has it, and "Erreur" says why the disk refused.
    void switch_preference(QAction* item, const std::string& path, const std::function<Result<void>(bool)>& apply);
    /// switch_preference() for a file of the data folder.
    void switch_preference(QAction* item, const char* file_name);

    // SchedulerHost: what a pass uses of the window.
    ScheduleTable& scheduled_lines() override { return table_; }
    ScheduledRun run_scheduled(int number, std::optional<std::time_t> due) override;
    bool question_open() const override;
    bool quitting() const override { return closing_; }
    Result<void> save_scheduled_lines() override;
    void serve_events() override { yield(); }
    void notify(const QString& text, std::int64_t run_id) override;

    /// Present: the program starts hidden in the tray.
    static constexpr const char* start_in_tray_file = "pref1.txt";

    WindowServices services_;
    ScheduleTable table_;
    ExtractionRun run_;
    ExtractionForm* form_ = nullptr;
    ScheduleGrid* grid_ = nullptr;
    QPointer<f_help> help_;
    QPointer<JournalWindow> journal_;
    SessionStart session_start_;
    Scheduler* scheduler_ = nullptr;
    /// Moves the transfers on while a run is in progress, for the times when
    /// the run's wait is suspended under a message box's own loop.
    QTimer* transfer_timer_ = nullptr;
    QAction* m_tache = nullptr;
    QAction* m_quitter = nullptr;
    QAction* m_reinit = nullptr;
    QAction* m_tb = nullptr;
    QAction* m_formats = nullptr;
    QAction* m_journal = nullptr;
    QAction* m_session = nullptr;
    QAction* m_aide = nullptr;
    QAction* m_apropos = nullptr;
    /// Kept from start-up for the first save, which names the copy it keeps
    /// of a damaged file.
    LoadReport load_report_;
    /// Why planifs.txt could not be read at start-up; "" once it has been.
    std::string unread_error_;
    /// The run in the journal that the last notice was about, 0 for none.
    std::int64_t last_notified_run_ = 0;
    bool closing_ = false;
    bool shut_down_ = false;
    bool waiting_for_tray_ = false;
    bool cursor_busy_ = false;
};
