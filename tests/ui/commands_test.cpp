#include "window_fixture.h"

#include <sys/stat.h>

#include <QAction>

#include "support/file_size_limit.h"
#include "ui/directory_list.h"

namespace {

using Commands = WindowTest;

TEST_F(Commands, PlannifierAddsThenReplacesByTrimmedTitleKeepingTheLastRun) {
    store(QStringLiteral("Galerie"));
    ASSERT_EQ(table_titles(), std::vector<std::string>{"Galerie"});
    EXPECT_EQ(grid->row_count(), 1);
    EXPECT_EQ(grid->cell_text(1, 4), QStringLiteral("A la demande"));
    EXPECT_TRUE(form->Text1->text().isEmpty()) << "the form is reset";

    clock.moment = FixedClock::at(2008, 1, 2, 3, 4);
    form->Option4[2]->click();
    form->Combo7->setCurrentIndex(1);
    store(QStringLiteral(" Galerie  "), QStringLiteral("https://autre/"));
    store(QStringLiteral("Deux"));

    ScheduleTable on_disk;
    load_schedule(folder(), on_disk);
    ASSERT_EQ(on_disk.line_count(), 2);
    EXPECT_EQ(on_disk.line(1).field(field::title), " Galerie  ");
    EXPECT_EQ(on_disk.line(1).field(field::start_address), "https://autre/");
    EXPECT_EQ(on_disk.line(1).field(field::last_run_date), "2007/05/14");
    EXPECT_EQ(on_disk.line(1).field(field::last_run_time), "08:45");
    EXPECT_EQ(on_disk.line(2).field(field::last_run_date), "2008/01/02");
    EXPECT_EQ(grid_titles(), (std::vector<std::string>{" Galerie  ", "Deux"}));
    EXPECT_EQ(grid->cell_text(1, 4), QStringLiteral("Tous les 2 jours"));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Commands, PlannifierRefusesAndChangesNothing) {
    const struct {
        const char* title;
        const char* address;
        const char* message;
    } cases[] = {
        {"  ", "http://site/", "Veuillez donner un titre à cette planification"},
        {"T", "HTTP://site/", "Veuillez indiquer une adresse internet valide"},
        {"T", " http://site/", "Veuillez indiquer une adresse internet valide"},
        {"T\nU", "http://site/", "« Titre » contient un caractère de contrôle"},
        {"T", "http://site/\r", "« Adresse Internet » contient un caractère de contrôle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        store(QString::fromUtf8(c.title), QString::fromUtf8(c.address));
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].title, QStringLiteral("Erreur"));
        EXPECT_EQ(prompter.shown[0].icon, PromptIcon::exclamation);
        EXPECT_EQ(prompter.shown[0].buttons, QList<PromptButton>{PromptButton::ok});
        EXPECT_EQ(prompter.take_texts()[0].substr(0, std::string(c.message).size()), c.message);
        EXPECT_EQ(form->Text1->text(), QString::fromUtf8(c.title)) << "the form is kept";
    }
    EXPECT_FALSE(file_exists(data.file("planifs.txt")));
    EXPECT_EQ(grid_titles(), std::vector<std::string>{""});
}

TEST_F(Commands, TwoHundredLinesAtTheirLongestRoundTripEveryByteAndNoMore) {
    // Every box filled past its limit, as a long paste would: the form keeps
    // what it can, and a save must take all of it.
    const QString shapes[] = {QStringLiteral("« Été, \"grand\" format » "), QStringLiteral("€")};
    const std::string destination = home.file("« Été, \"grand\" format »");
    ASSERT_EQ(::mkdir(destination.c_str(), 0700), 0);
    std::vector<ScheduleLine> longest;
    for (const QString& filler : shapes) {
        SCOPED_TRACE(filler.toStdString());
        form->Dir1->set_path(QString::fromStdString(destination));
        for (QLineEdit* box : form->text_boxes())
            box->setText((box == form->Text2 ? QStringLiteral("http://") : QString()) +
                         filler.repeated(static_cast<qsizetype>(max_field_length)));
        click(form->Command2);
        EXPECT_EQ(prompter.take_texts(), std::vector<std::string>{});
        ASSERT_EQ(window->table().line_count(), static_cast<int>(longest.size()) + 1);
        longest.push_back(window->table().line(window->table().line_count()));
    }
    std::vector<ScheduleLine> lines;
    for (int number = 1; number <= ScheduleTable::max_lines; ++number) {
        ScheduleLine line = longest[static_cast<std::size_t>(number) % longest.size()];
        const QString title = QString::fromStdString(line.field(field::title));
        const QString unique = QString::number(number);
        line.set_field(field::title, (unique + title.mid(unique.size())).toStdString());
        lines.push_back(line);
    }
    // Written by hand: longer than a box takes, as long as a save accepts.
    lines[2].set_field(field::title, std::string(max_field_length, 'x'));
    open_with(lines);
    const std::string before = planifs();
    for (int row = 1; row <= ScheduleTable::max_lines; ++row) {
        const ScheduleLine& line = lines[static_cast<std::size_t>(row) - 1];
        for (const auto& [column, number] :
             {std::pair{0, field::title}, {1, field::start_address}, {3, field::destination}})
            EXPECT_TRUE(grid->cell_text(row, column).toStdString() == line.field(number)) << row << " " << column;
    }
    for (const int number : {1, 2, 3, ScheduleTable::max_lines}) {
        SCOPED_TRACE(number);
        select(number);
        click(grid->Command4);
        click(form->Command2);
        EXPECT_EQ(prompter.take_texts(), std::vector<std::string>{});
        EXPECT_TRUE(planifs() == before) << "Editer then Plannifier changed the file";
    }

    store(QStringLiteral("Nouveau"));
    EXPECT_EQ(prompter.take_texts(), std::vector<std::string>{"Nombre de planifications limité à 200."});
    EXPECT_TRUE(planifs() == before);
    store(QString::fromStdString(lines[6].field(field::title)), QStringLiteral("http://neuf/"));
    EXPECT_EQ(prompter.take_texts(), std::vector<std::string>{});
    EXPECT_EQ(grid->cell_text(7, 1), QStringLiteral("http://neuf/"));
}

TEST_F(Commands, SupprimerRemovesTheLineAndItsRowTogether) {
    const struct {
        int lines;
        int selected;
        std::vector<std::string> left;
    } cases[] = {{5, 3, {"L1", "L2", "L4", "L5"}}, {1, 1, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        std::vector<ScheduleLine> lines;
        for (int i = 1; i <= c.lines; ++i)
            lines.push_back(stored("L" + std::to_string(i)));
        open_with(lines);
        select(c.selected);
        click(grid->Command3);
        ScheduleTable on_disk;
        load_schedule(folder(), on_disk);
        EXPECT_EQ(table_titles(), c.left);
        EXPECT_EQ(on_disk.line_count(), static_cast<int>(c.left.size()));
        EXPECT_EQ(grid_titles(), c.left.empty() ? std::vector<std::string>{""} : c.left);
    }
    // The blank row of an empty schedule is no line: nothing happens.
    click(grid->Command3);
    click(grid->Command4);
    click(grid->Command6);
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(planifs(), "");
}

TEST_F(Commands, EditerThenPlannifierUnderANewTitleAddsALine) {
    ScheduleLine line = stored("Printemps", home.path());
    line.set_field(field::depth, "2");
    line.set_field(field::user_name, "u");
    line.set_field(field::existing_policy, "3");
    line.set_field(field::schedule_kind, "1");
    line.set_field(field::interval_index, "4");
    line.set_field(field::start_hour, "23");
    line.set_field(field::monday + 1, "0");
    line.set_field(field::first_include, "photo*");
    line.set_field(field::first_include + 1, "jpg");
    line.set_field(field::drive, home.path());
    open_with({line});
    select(1);
    click(grid->Command4);
    for (QPushButton* button : {grid->Command3, grid->Command4, grid->Command6})
        EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(form->line().field(field::depth), "2");

    form->Text1->setText(QStringLiteral("Été"));
    click(form->Command2);
    ASSERT_EQ(window->table().line_count(), 2);
    ScheduleLine expected = line;
    expected.set_field(field::title, "Été");
    expected.set_field(field::last_run_date, "2007/05/14");
    expected.set_field(field::last_run_time, "08:45");
    EXPECT_EQ(window->table().line(2), expected);
    EXPECT_EQ(window->table().line(1), line);
    EXPECT_TRUE(grid->Command4->isEnabled());
}

TEST_F(Commands, EditerOfADamagedLineShowsWhatPlannifierWillStore) {
    ScheduleLine damaged = stored("Abîmée", "C:\\Images");
    const std::vector<std::pair<int, std::string>> fixes{
        {field::depth, "0"},
        {field::existing_policy, "1"},
        {field::layout, "1"},
        {field::schedule_kind, "0"},
        {field::interval_index, "2"},
        {field::start_hour, "0"},
        {field::first_exclude + 1, "*"},
    };
    const char* bad[] = {"9", "", "-1", "7", "12", "25", "png"};
    for (std::size_t i = 0; i < fixes.size(); ++i)
        damaged.set_field(fixes[i].first, bad[i]);
    damaged.set_field(field::drive, "c:");
    damaged.set_field(field::last_run_date, "");
    open_with({damaged});
    select(1);
    click(grid->Command4);
    click(form->Command2);

    const ScheduleLine& saved = window->table().line(1);
    for (const auto& [number, text] : fixes)
        EXPECT_EQ(saved.field(number), text) << "field " << number;
    EXPECT_EQ(saved.field(field::destination), "C:\\Images");
    EXPECT_EQ(saved.field(field::drive), "c:");
    // A last run that cannot be read would keep the line from ever being due.
    EXPECT_EQ(saved.field(field::last_run_date), "2007/05/14");
    EXPECT_EQ(saved.field(field::last_run_time), "08:45");
}

TEST_F(Commands, AFailedSaveTakesEveryCommandBack) {
    open_with({stored("A"), stored("B")});
    const std::string before = planifs();
    const std::vector<std::pair<const char*, std::function<void()>>> commands{
        {"Plannifier new", [&] { store(QStringLiteral("C")); }},
        {"Plannifier replace", [&] { store(QStringLiteral("B"), QStringLiteral("http://autre/")); }},
        {"Supprimer",
         [&] {
             select(1);
             click(grid->Command3);
         }},
    };
    for (const auto& [name, command] : commands) {
        SCOPED_TRACE(name);
        {
            FileSizeLimit disk_full(16);
            command();
        }
        const std::vector<std::string> texts = prompter.take_texts();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].rfind("Impossible d'enregistrer les planifications", 0), 0u) << texts[0];
        EXPECT_EQ(planifs(), before);
        EXPECT_EQ(table_titles(), (std::vector<std::string>{"A", "B"}));
        EXPECT_EQ(grid_titles(), (std::vector<std::string>{"A", "B"}));
        EXPECT_EQ(window->table().line(2).field(field::start_address), "http://site/");
    }
}

} // namespace
