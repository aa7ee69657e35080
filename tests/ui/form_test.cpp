#include "window_fixture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QStyle>
#include <QTableWidget>

#include "net/text.h"
#include "ui/directory_list.h"
#include "ui/f_help.h"

namespace {

using Form = WindowTest;

/// Leaves `box` with Tab, as a user would, and lets the check that follows run.
void tab_out_of(QWidget* box) {
    ExtractionForm::focus_quietly(box);
    QTest::keyClick(box, Qt::Key_Tab);
    QCoreApplication::processEvents();
}

TEST_F(Form, DefaultsDepthRulesAndReinit) {
    const ScheduleLine defaults = form->line();
    for (const auto& [number, text] :
         {Field{field::depth, "0"}, Field{field::existing_policy, "1"}, Field{field::layout, "1"},
          Field{field::schedule_kind, "0"}, Field{field::interval_index, "2"}, Field{field::start_hour, "0"},
          Field{field::start_minute_index, "0"}, Field{field::day_interval_index, "0"}, Field{field::sunday, "1"},
          Field{field::first_include + 7, "*"}, Field{field::destination, home.path()},
          Field{field::drive, home.path()}})
        EXPECT_EQ(defaults.field(number), text) << "field " << number;
    EXPECT_EQ(form->Text6->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, form->Text6), '*');

    // The levels list counts only while "Oui, sur" is chosen, and keeps its choice meanwhile.
    form->Combo1->setCurrentIndex(2);
    EXPECT_EQ(form->current_job().depth, 0);
    form->Option3[1]->click();
    EXPECT_EQ(form->current_job().depth, 3);
    form->Combo1->setCurrentIndex(3);
    EXPECT_EQ(form->current_job().depth, 4);
    form->Option3[0]->click();
    EXPECT_EQ(form->current_job().depth, 0);
    EXPECT_EQ(form->Combo1->currentText(), QStringLiteral("4"));

    // Credentials are stored trimmed; the boxes keep what was typed.
    form->Text5->setText(QStringLiteral("  jean "));
    form->Text6->setText(QStringLiteral(" s e "));
    EXPECT_EQ(form->line().field(field::user_name), "jean");
    EXPECT_EQ(form->line().field(field::password), "s e");
    EXPECT_EQ(form->Text5->text(), QStringLiteral("  jean "));

    // Everything changed, then "Réinitialiser": all back but the folder.
    form->Text1->setText(QStringLiteral("T"));
    for (QRadioButton* option : {form->Option3[1], form->Option1[2], form->Option2[1], form->Option4[2]})
        option->click();
    for (QComboBox* list : {form->Combo2, form->Combo5, form->Combo6, form->Combo7, form->Combo3[3], form->Combo4[0]})
        list->setCurrentIndex(3);
    form->Check1[6]->setChecked(false);
    form->Text3[0]->setText(QStringLiteral("a"));
    form->Text4[3]->setText(QStringLiteral("b"));
    form->Dir1->set_path(QStringLiteral("/"));
    window->findChild<QAction*>(QStringLiteral("m_reinit"))->trigger();

    ScheduleLine moved = defaults;
    moved.set_field(field::destination, "/");
    moved.set_field(field::drive, "/");
    EXPECT_EQ(form->line(), moved);
    EXPECT_EQ(form->Combo1->currentText(), QStringLiteral("1"));
    EXPECT_EQ(QApplication::focusWidget(), form->Text1);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Form, EditerKeepsAStoredExtensionThatTheListLacks) {
    ScheduleLine line = stored("T");
    line.set_field(field::first_include + 1, " png ");
    line.set_field(field::first_exclude + 7, "JPG");
    for (const bool all_formats : {false, true}) {
        form->set_all_image_formats(all_formats);
        form->load(line);
        EXPECT_EQ(form->Combo3[0]->count(), all_formats ? 8 : 5);
        EXPECT_EQ(form->line().field(field::first_include + 1), "png");
        EXPECT_EQ(form->line().field(field::first_exclude + 7), "JPG");
        form->reset();
        EXPECT_EQ(form->Combo3[0]->count(), all_formats ? 8 : 4);
    }
}

// The messages in order, each once however often; the focus back in the box; what was typed kept.
TEST_F(Form, LeavingABoxChecksItOnce) {
    const std::string refused = "Veuillez indiquer une adresse internet valide";
    const auto no = [](char c) { return "Il ne faut pas de " + std::string(1, c) + " dans un nom de fichier"; };
    const std::tuple<QLineEdit*, const char*, std::vector<std::string>> cases[] = {
        {form->Text2, "", {refused}},
        {form->Text2, "HTTPS://site/", {refused}},
        {form->Text2, " http://site/", {refused}},
        {form->Text2, "http://site/", {}},
        {form->Text2, "https://site/", {}},
        {form->Text4[1], " x.y/z ", {no('.'), no('/')}},
        {form->Text4[1], "a??b", {}}};
    for (const auto& [box, typed, messages] : cases) {
        SCOPED_TRACE(typed);
        box->setText(QString::fromUtf8(typed));
        tab_out_of(box);
        EXPECT_EQ(prompter.take_texts(), messages);
        EXPECT_EQ(QApplication::focusWidget() == box, !messages.empty());
        QCoreApplication::processEvents();
        EXPECT_TRUE(prompter.shown.empty()) << "asked again";
        EXPECT_TRUE(box == form->Text2 || form->line().field(field::first_exclude + 2) == m_qmr::trim_spaces(typed));
    }

    // Neither the grid, nor a window opening, nor the program's own moves.
    form->Text2->clear();
    ExtractionForm::focus_quietly(form->Text2);
    grid->gri->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    ExtractionForm::focus_quietly(form->Text2);
    window->m_aide_Click();
    QCoreApplication::processEvents();
    window->help_window()->close();
    window->reinit();
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompter.take_texts().empty());
}

TEST_F(Form, EveryControlIsNamedForAssistiveTechnologyInTheFocusOrder) {
    // A box is named by its label, a pattern box or list by its frame and place, a button by its caption.
    for (const auto& [widget, name] : {std::pair<QWidget*, const char*>{form->Text1, "Titre :"},
                                       {form->Option3[1], "Oui, sur"},
                                       {form->Text3[0], "Prendre uniquement ces images : nom 1"},
                                       {form->Combo4[3], "Exclure ces images : extension 4"},
                                       {form->Check1[6], "Dimanche"},
                                       {grid->Command6, "Extraire maintenant !"}})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), QString::fromUtf8(name));

    QStringList seen;
    QList<QWidget*> controls = form->focus_chain();
    for (QWidget* control : controls << grid->gri << grid->Command3 << grid->Command4 << form->Option4[2]) {
        const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty() || seen.contains(name)) << control->objectName().toStdString();
        seen << name;
        // A list is also heard by what it shows, as its value and as its text, and it is related to its label.
        if (auto* list = qobject_cast<QComboBox*>(control)) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
            const QAccessibleTextInterface* text = iface->textInterface();
            const std::string shown = list->currentText().toStdString();
            EXPECT_FALSE(list->isEditable()) << name.toStdString();
            EXPECT_EQ(iface->text(QAccessible::Value).toStdString(), shown);
            EXPECT_EQ(text ? text->text(0, text->characterCount()).toStdString() : "", shown);
            EXPECT_FALSE(iface->relations(QAccessible::Label).isEmpty()) << name.toStdString();
        }
    }
    // The focus order ends with "A partir de", after the grid's buttons.
    EXPECT_EQ(form->Check1[6]->nextInFocusChain(), form->Command2);
    EXPECT_EQ(grid->Command4->nextInFocusChain(), form->Option4[2]);
}

} // namespace
