#include "window_fixture.h"

#include <sys/stat.h>

#include "support/file_size_limit.h"
#include "ui/directory_list.h"

namespace {

using Commands = WindowTest;

TEST_F(Commands, PlannifierAddsThenReplacesByTrimmedTitleKeepingTheLastRun) {
    store(QStringLiteral("Galerie"));
    EXPECT_TRUE(form->Text1->text().isEmpty()) << "the form is reset";

    clock.moment = FixedClock::at("2008/01/02 03:04");
    form->Option4[2]->click();
    form->Combo7->setCurrentIndex(1);
    store(QStringLiteral(" Galerie  "), QStringLiteral("https://autre/"));

    const ScheduleLine& line = window->table().line(1);
    EXPECT_EQ(planifs(), format_schedule(window->table()));
    EXPECT_EQ(table_titles(), std::vector<std::string>{" Galerie  "});
    EXPECT_EQ(grid_titles(), table_titles());
    EXPECT_EQ(line.field(field::start_address), "https://autre/");
    EXPECT_EQ(line.field(field::last_run_date) + " " + line.field(field::last_run_time), "2007/05/14 08:45");
    EXPECT_EQ(grid->cell_text(1, 4), QStringLiteral("Tous les 2 jours"));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Commands, TwoHundredLinesAtTheirLongestRoundTripEveryByteAndNoMore) {
    // Every box filled past its limit, as by a long paste: a save must take all that the form keeps.
    const std::string destination = home.file("« Été, \"grand\" format »");
    ASSERT_EQ(::mkdir(destination.c_str(), 0700), 0);
    std::vector<ScheduleLine> longest;
    for (const QString& filler : {QStringLiteral("« Été, \"grand\" format » "), QStringLiteral("€")}) {
        form->Dir1->set_path(QString::fromStdString(destination));
        for (QLineEdit* box : form->text_boxes())
            box->setText((box == form->Text2 ? QStringLiteral("http://") : QString()) +
                         filler.repeated(static_cast<qsizetype>(max_field_length)));
        click(form->Command2);
        ASSERT_EQ(prompter.take_texts(), std::vector<std::string>{});
        longest.push_back(window->table().line(window->table().line_count()));
    }
    std::vector<ScheduleLine> lines;
    for (int number = 1; number <= ScheduleTable::max_lines; ++number) {
        lines.push_back(longest[static_cast<std::size_t>(number) % longest.size()]);
        const QString title = QString::fromStdString(lines.back().field(field::title)),
                      unique = QString::number(number);
        lines.back().set_field(field::title, (unique + title.mid(unique.size())).toStdString());
    }
    // Written by hand: longer than a box takes, as long as a save accepts.
    lines[2].set_field(field::title, std::string(max_field_length, 'x'));
    open_with(lines);
    const std::string before = planifs();
    for (const int row : {1, 2, 3, ScheduleTable::max_lines}) {
        SCOPED_TRACE(row);
        const ScheduleLine& line = lines[static_cast<std::size_t>(row) - 1];
        for (const auto& [column, number] :
             {std::pair{0, field::title}, {1, field::start_address}, {3, field::destination}})
            EXPECT_TRUE(grid->cell_text(row, column).toStdString() == line.field(number)) << column;
        select(row);
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
    const std::pair<int, std::vector<std::string>> cases[] = {{3, {"L1", "L2", "L4", "L5"}}, {1, {}}};
    for (const auto& [selected, left] : cases) {
        SCOPED_TRACE(selected);
        std::vector<ScheduleLine> lines;
        for (int i = 1; i <= static_cast<int>(left.size()) + 1; ++i)
            lines.push_back(stored('L' + std::to_string(i)));
        open_with(lines);
        select(selected);
        click(grid->Command3);
        EXPECT_EQ(table_titles(), left);
        EXPECT_EQ(planifs(), format_schedule(window->table()));
        EXPECT_EQ(grid_titles(), left.empty() ? std::vector<std::string>{""} : left);
    }
    // The blank row of an empty schedule is no line: nothing happens.
    click(grid->Command3);
    click(grid->Command4);
    click(grid->Command6);
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(planifs(), "");
}

TEST_F(Commands, EditerShowsWhatPlannifierWillStore) {
    // A line the form could have written, then a damaged or foreign one.
    ScheduleLine line = stored("Printemps", home.path());
    for (const auto& [number, text] :
         {Field{field::depth, "2"}, Field{field::user_name, "u"}, Field{field::existing_policy, "3"},
          Field{field::schedule_kind, "1"}, Field{field::interval_index, "4"}, Field{field::start_hour, "23"},
          Field{field::monday + 1, "0"}, Field{field::first_include, "photo*"}, Field{field::first_include + 1, "jpg"},
          Field{field::drive, home.path()}})
        line.set_field(number, text);
    ScheduleLine damaged = stored("Abîmée", "C:\\Images");
    // Each stored field the form cannot show, and what the form shows instead.
    const std::tuple<int, const char*, const char*> fixes[] = {
        {field::depth, "9", "0"},           {field::existing_policy, "", "1"},  {field::layout, "-1", "1"},
        {field::schedule_kind, "7", "0"},   {field::interval_index, "12", "2"}, {field::start_hour, "25", "0"},
        {field::first_exclude + 1, "", "*"}};
    for (const auto& [number, damage, shown] : fixes)
        damaged.set_field(number, damage);
    damaged.set_field(field::drive, "c:");
    damaged.set_field(field::last_run_date, "2007/02/31"); // no such day
    open_with({line, damaged});

    select(1);
    click(grid->Command4);
    for (QPushButton* button : {grid->Command3, grid->Command4, grid->Command6})
        EXPECT_FALSE(button->isEnabled());
    form->Text1->setText(QStringLiteral("Été"));
    click(form->Command2);
    ASSERT_EQ(window->table().line_count(), 3);
    EXPECT_EQ(window->table().line(1), line);
    line.set_field(field::title, "Été");
    line.set_field(field::last_run_date, "2007/05/14");
    line.set_field(field::last_run_time, "08:45");
    EXPECT_EQ(window->table().line(3), line);
    EXPECT_TRUE(grid->Command4->isEnabled());

    select(2);
    click(grid->Command4);
    click(form->Command2);
    const ScheduleLine& saved = window->table().line(2);
    for (const auto& [number, damage, shown] : fixes)
        EXPECT_EQ(saved.field(number), shown) << "field " << number;
    EXPECT_EQ(saved.field(field::destination), "C:\\Images");
    EXPECT_EQ(saved.field(field::drive), "c:");
    // A last run that cannot be read would keep the line from ever being due.
    EXPECT_EQ(saved.field(field::last_run_date) + " " + saved.field(field::last_run_time), "2007/05/14 08:45");
}

// Refused, or unsaved on a full disk, a command says why in one "Erreur" box and changes nothing: neither the file,
// nor the table, nor the grid, nor the form it was given.
TEST_F(Commands, ARefusedOrUnsavedCommandChangesNothing) {
    open_with({stored("A"), stored("B", "C:\\Images")});
    const std::string before = planifs();
    const struct {
        const char* title; ///< "Plannifier" with this title and address, unless `command` is given
        const char* address;
        std::function<void()> command;
        bool disk_full;
        const char* message; ///< how the box's text begins
    } cases[] = {
        {"  ", "http://site/", {}, false, "Veuillez donner un titre à cette planification"},
        {"T", "HTTP://site/", {}, false, "Veuillez indiquer une adresse internet valide"},
        {"T\nU", "http://site/", {}, false, "« Titre » contient un caractère de contrôle"},
        {"T", "http://site/\r", {}, false, "« Adresse Internet » contient un caractère de contrôle"},
        {"C", "http://site/", {}, true, "Impossible d'enregistrer les planifications"},
        {"B", "http://autre/", {}, true, "Impossible d'enregistrer les planifications"},
        {"Supprimer", "", [&] { select(1), click(grid->Command3); }, true, "Impossible d'enregistrer"},
        {"Extraire", "", [&] { select(2), click(grid->Command6); }, false,
         "Le répertoire de destination « C:\\Images »"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        {
            FileSizeLimit limit(c.disk_full ? 16 : RLIM_INFINITY);
            c.command ? c.command() : store(QString::fromUtf8(c.title), QString::fromUtf8(c.address));
        }
        ASSERT_EQ(prompter.shown.size(), 1u);
        const TestPrompter::Shown box = prompter.shown[0];
        EXPECT_EQ(box, (TestPrompter::Shown{PromptIcon::exclamation, "Erreur", box.text, {PromptButton::ok}}));
        EXPECT_TRUE(prompter.take_texts()[0].starts_with(c.message));
        EXPECT_TRUE(c.command || form->Text1->text() == QString::fromUtf8(c.title)) << "the form is kept";
        EXPECT_EQ(planifs(), before);
        EXPECT_EQ(table_titles(), (std::vector<std::string>{"A", "B"}));
        EXPECT_EQ(grid_titles(), table_titles());
        EXPECT_EQ(window->table().line(2).field(field::start_address), "http://site/");
        EXPECT_TRUE(grid->Command6->isEnabled());
    }
}

} // namespace
