#pragma once

#include <string>

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "engine/extraction_run.h"
#include "engine/run_observer.h"
#include "schedule/schedule_line.h"
#include "ui/volumes.h"

class Clock;
class ExtractionForm;
class InternetTransfer;
class Prompter;
class QAction;
class QMenu;
class ScheduleGrid;
class f_help;

/// What the main window works with, given by whoever builds it: the program
/// gives the real ones, tests their own.
struct WindowServices {
    std::string data_folder; ///< where planifs.txt and pref1.txt live, ending in "/"
    InternetTransfer& transfer;
    Clock& clock;         ///< the date and time of the stamps
    Prompter& prompter;   ///< every message box
    VolumeSource volumes; ///< what the drive list offers
    QString start_folder; ///< the folder the directory list opens first
};

/// The main window "Quillmoor": the extraction form, the schedule grid and its
/// commands, the menus, and the status line of the runs started from it. It
/// owns the stored extractions and keeps the grid, the table and planifs.txt
/// alike after every command.
class f_qmr final : public QMainWindow, public RunObserver {
    Q_OBJECT

public:
    /// `table` is the schedule as loaded from planifs.txt in the data folder.
    f_qmr(WindowServices services, ScheduleTable table, QWidget* parent = nullptr);
    ~f_qmr() override;

    ExtractionForm* form() const { return form_; }
    ScheduleGrid* grid() const { return grid_; }
    const ScheduleTable& table() const { return table_; }
    /// The help window while it is open.
    f_help* help_window() const;
    /// The tray icon's menu: "&Restaurer" and " &Quitter"; in no menu bar.
    QMenu* mPopupSys() const { return popup_; }

    /// Puts the form back to its defaults, enables "Plannifier" and the grid's
    /// buttons, and puts the focus in the title box.
    void reinit();

    /// Runs stored line `numligne` (1 to line_count) with this window as the
    /// observer. Stamps and saves nothing: that is the caller's part.
    /// already_running, doing nothing, while another run is in progress.
    RunOutcome traite_ligne_detail(int numligne, RunMode mode);

    /// Locks the commands that change the schedule ("Plannifier", "Supprimer",
    /// "Editer", "Extraire maintenant !", "Réinitialiser") and shows the busy
    /// pointer, or undoes both.
    void set_commands_locked(bool locked);

    bool run_in_progress() const { return run_.running(); }

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

signals:
    /// The window was closed: the program is to end. A run in progress stops
    /// before its next fetch and is not stamped.
    void quit_requested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_menus();
    void set_focus_order();
    /// Saves the table; shows an "Erreur" message and returns false when it
    /// cannot be written.
    bool save_table();
    std::string pref_path() const;

    WindowServices services_;
    ScheduleTable table_;
    ExtractionRun run_;
    ExtractionForm* form_ = nullptr;
    ScheduleGrid* grid_ = nullptr;
    QPointer<f_help> help_;
    QMenu* popup_ = nullptr;
    QAction* m_tache = nullptr;
    QAction* m_quitter = nullptr;
    QAction* m_reinit = nullptr;
    QAction* m_tb = nullptr;
    QAction* m_aide = nullptr;
    QAction* m_apropos = nullptr;
    bool closing_ = false;
    bool cursor_busy_ = false;
};
