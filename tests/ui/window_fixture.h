#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "net/curl_transfer.h"
#include "schedule/clock.h"
#include "schedule/schedule_file.h"
#include "store/database.h"
#include "store/image_memory.h"
#include "journal/journal.h"
#include "support/site.h"
#include "support/temp_dir.h"
#include "ui/desktop_integration.h"
#include "ui/extraction_form.h"
#include "ui/f_qmr.h"
#include "ui/prompter.h"
#include "ui/schedule_grid.h"

/// Records every message box instead of showing it, and answers with the
/// next answer queued, else the first button offered.
class TestPrompter final : public Prompter {
public:
    struct Shown {
        PromptIcon icon;
        QString title;
        QString text;
        QList<PromptButton> buttons;
        bool operator==(const Shown&) const = default;
    };

    /// The texts shown so far, in order; forgets them.
    std::vector<std::string> take_texts() {
        std::vector<std::string> texts;
        for (const Shown& box : shown)
            texts.push_back(box.text.toStdString());
        shown.clear();
        return texts;
    }

    std::vector<Shown> shown;
    /// The answer to the next box, once.
    std::optional<PromptButton> answer;
    /// Runs once, while the next box is open.
    std::function<void()> while_open;

protected:
    PromptButton show_box(QWidget*, PromptIcon icon, const QString& title, const QString& text,
                          const QList<PromptButton>& buttons) override {
        shown.push_back({icon, title, text, buttons});
        if (while_open)
            std::exchange(while_open, nullptr)();
        return answer ? *std::exchange(answer, std::nullopt) : buttons.first();
    }
};

/// The program's tray icon, over a notification area that the test puts
/// there or takes away and that records the notices: the offscreen platform
/// has none.
struct Tray {
    /// The notification area appears or goes away.
    void set_available(bool now) {
        available = now;
        integration.check_tray_availability();
    }
    QSystemTrayIcon& icon() { return *integration.findChild<QSystemTrayIcon*>(); }

    bool available = true;
    std::vector<std::string> notices;
    DesktopIntegration integration{
        nullptr, [this] { return available; },
        [this](QSystemTrayIcon&, const QString&, const QString& text) { notices.push_back(text.toStdString()); }};
};

/// A clock that the test sets, and that moves `step_minutes` on at every
/// reading, so that a run's start and its end read differently. It counts
/// seconds, and shows them in the local zone as the system's clock does.
class FixedClock final : public Clock {
public:
    std::tm now() const override {
        const std::tm current = local_time(moment);
        moment += step_minutes * 60;
        return current;
    }
    /// "YYYY/MM/DD HH:MM" in the local zone, as the stamps read.
    static std::time_t at(const std::string& text) {
        std::tm local{};
        strptime(text.c_str(), "%Y/%m/%d %H:%M", &local);
        local.tm_isdst = -1;
        return mktime(&local);
    }

    mutable std::time_t moment = at("2007/05/14 08:45");
    int step_minutes = 0;
};

/// A field of a stored line: its number and its text.
using Field = std::pair<int, std::string>;

/// A fresh main window over a temporary data folder, shown offscreen.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { open_window(); }

    /// Opens a new window on planifs.txt as it is in the data folder: shown,
    /// or with `start_up` through the program's own start-up.
    void open_window(bool start_up = false) {
        window.reset();
        ScheduleTable table;
        const Result<LoadReport> report = load_schedule(folder(), table);
        const VolumeSource volumes = [this] { return std::vector<std::string>{"/", home.path()}; };
        const QString home_folder = QString::fromStdString(home.path());
        // The session's entry goes to the test's own folder, never the user's.
        ::setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
        window = std::make_unique<f_qmr>(WindowServices{folder(), transfer, memory, *journal, clock, prompter,
                                                        tray.integration, volumes, home_folder,
                                                        std::chrono::milliseconds(50), launcher},
                                         std::move(table));
        form = window->form();
        grid = window->grid();
        if (start_up)
            return window->Form_Load(report);
        ASSERT_TRUE(report.ok());
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    std::string folder() const { return data.path() + "/"; }
    std::string planifs() const { return read_file(data.file("planifs.txt")); }

    /// Writes planifs.txt with these lines, then opens a window on it.
    void open_with(const std::vector<ScheduleLine>& lines, bool start_up = false) {
        ScheduleTable table;
        for (const ScheduleLine& line : lines)
            table.append(line);
        write_file(data.file("planifs.txt"), format_schedule(table));
        open_window(start_up);
    }

    /// A sound stored line, as the form writes it, last run on 2007/05/01 at 10:20.
    ScheduleLine stored(const std::string& title, const std::string& destination = "/tmp") {
        ScheduleLine line = ExtractionForm({}, QStringLiteral("/"), prompter).line();
        line.set_field(field::title, title);
        line.set_field(field::start_address, "http://site/");
        line.set_field(field::destination, destination);
        line.set_field(field::last_run_date, "2007/05/01");
        line.set_field(field::last_run_time, "10:20");
        return line;
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    /// Plannifier with a title and an address.
    void store(const QString& title, const QString& address = QStringLiteral("http://site/")) {
        form->Text1->setText(title);
        form->Text2->setText(address);
        click(form->Command2);
    }
    void select(int row) { grid->select_line(row); }
    /// The titles of the grid's rows and of the table's lines, in order.
    std::vector<std::string> grid_titles() const {
        std::vector<std::string> titles;
        for (int row = 1; row <= grid->row_count(); ++row)
            titles.push_back(grid->cell_text(row, 0).toStdString());
        return titles;
    }
    std::vector<std::string> table_titles() const {
        std::vector<std::string> titles;
        for (int number = 1; number <= window->table().line_count(); ++number)
            titles.push_back(window->table().line(number).field(field::title));
        return titles;
    }

    TempDir data;
    TempDir home;
    /// Started by the tests that fetch; it stops after the window and the
    /// transfer, whose kept-alive connection would wait for it.
    Site site;
    CurlTransfer transfer;
    NoImageMemory memory;
    OpenedDatabase database = open_data_database(folder());
    std::unique_ptr<RunJournal> journal = run_journal_in(database);
    /// Where the program is, as the session's entry names it.
    std::string launcher = "/opt/Quillmoor à l'essai/bin/quillmoor";
    FixedClock clock;
    TestPrompter prompter;
    Tray tray;
    std::unique_ptr<f_qmr> window;
    ExtractionForm* form = nullptr;
    ScheduleGrid* grid = nullptr;
};
