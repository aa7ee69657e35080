#include "window_fixture.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include "ui/f_help.h"

namespace {

/// Counts the times a main window is shown, from before it exists.
class ShowCounter final : public QObject {
public:
    ShowCounter() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        shows += event->type() == QEvent::Show && qobject_cast<f_qmr*>(watched);
        return false;
    }
    int shows = 0;
};

class Lifecycle : public WindowTest {
protected:
    void trigger(const char* action) { window->findChild<QAction*>(QLatin1String(action))->trigger(); }
    /// Centred on its screen's free area, or against its edge on an axis
    /// where the window is the larger.
    bool centred() const {
        const QRect frame = window->frameGeometry();
        const QRect area = window->screen()->availableGeometry();
        auto axis = [](int start, int size, int area_start, int area_size) {
            return size > area_size ? start == area_start : std::abs(2 * (start - area_start) + size - area_size) <= 2;
        };
        return axis(frame.left(), frame.width(), area.left(), area.width()) &&
               axis(frame.top(), frame.height(), area.top(), area.height());
    }
};

TEST_F(Lifecycle, StartUpShowsTheWindowCentredOrOnlyTheIconAndTellsWhatItFound) {
    ScheduleLine unreadable = stored("Trois");
    unreadable.set_field(field::schedule_kind, "1");
    unreadable.set_field(field::interval_index, "-5");
    // Started in the tray or not; a tray there at start-up, or one that comes a moment later.
    for (const auto& [name, start_in_tray, tray_there, tray_comes, shown] :
         {std::tuple{"window", false, true, false, true}, std::tuple{"in the tray", true, true, false, false},
          std::tuple{"in the tray, none comes", true, false, false, true},
          std::tuple{"in the tray, one comes", true, false, true, false}}) {
        SCOPED_TRACE(name);
        window.reset();
        tray.set_available(tray_there);
        if (start_in_tray)
            write_file(data.file("pref1.txt"), "");
        else
            ::unlink(data.file("pref1.txt").c_str());
        ShowCounter counter;
        memory = NoImageMemory("la mémoire est abîmée");
        open_with({stored("Un"), stored("Deux"), unreadable}, true);
        // Told once, in a sentence of its own: by a notice, or on the status line without a tray.
        EXPECT_EQ(tray_there ? tray.notices.at(0) : form->Label4->text().toStdString(), "La mémoire est abîmée");
        tray.notices.clear();
        if (tray_comes)
            tray.set_available(true);
        QTest::qWait(150);

        EXPECT_EQ(counter.shows > 0, shown) << "shown, even for an instant";
        EXPECT_EQ(window->isVisible(), shown);
        EXPECT_TRUE(tray.icon().isVisible());
        EXPECT_EQ(window->findChild<QAction*>(QStringLiteral("m_tb"))->isChecked(), start_in_tray);
        EXPECT_EQ(grid_titles(), (std::vector<std::string>{"Un", "Deux", "Trois"}));
        EXPECT_EQ(grid->selected_line(3), 1);
        EXPECT_TRUE(window->scheduler()->Timer1->isActive());
        EXPECT_EQ(window->scheduler()->tick_count(), 0);
        EXPECT_TRUE(!shown || (centred() && QApplication::focusWidget() == form->Text1));
        EXPECT_EQ(prompter.take_texts(), std::vector<std::string>{"« Trois » ne sera pas exécutée : champ 10 "
                                                                  "(intervalle) : « -5 ». « Editer » puis "
                                                                  "« Plannifier » la remettent en état."});
        window->scheduler()->traite_ligne();
        EXPECT_TRUE(tray.notices.empty()) << "told again";
    }
}

TEST_F(Lifecycle, CloseAsksFirstAndNoLeavesEverythingAsItWas) {
    const TestPrompter::Shown question{
        PromptIcon::question,
        "Quillmoor",
        "Voulez-vous vraiment quitter Quillmoor ?\r\nLes tâches plannifiées ne seront pas exécutées.",
        {PromptButton::yes, PromptButton::no}};
    const struct {
        const char* name;
        std::function<void()> close;
        bool hidden;
        PromptButton answer;
        bool asks = true;
    } cases[] = {
        {"Quitter", [this] { trigger("m_quitter"); }, false, PromptButton::no},
        {" &Quitter, hidden", [this] { tray.integration.menu()->actions().last()->trigger(); }, true, PromptButton::no},
        {"close box", [this] { window->close(); }, false, PromptButton::yes},
        {"SIGTERM or the session's end", [this] { window->close_without_asking(); }, false, PromptButton::yes, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open_window(true);
        window->m_aide_Click();
        if (c.hidden)
            trigger("m_tache");
        bool quit = false;
        QObject::connect(window.get(), &f_qmr::quit_requested, [&] { quit = true; });
        prompter.answer = c.answer;
        c.close();

        EXPECT_EQ(prompter.shown, c.asks ? std::vector{question} : std::vector<TestPrompter::Shown>{});
        prompter.shown.clear();
        const bool yes = c.answer == PromptButton::yes;
        EXPECT_EQ(quit, yes);
        EXPECT_EQ(window->isVisible(), !yes && !c.hidden);
        EXPECT_EQ(tray.icon().isVisible(), !yes);
        EXPECT_EQ(window->scheduler()->Timer1->isActive(), !yes);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(window->help_window() != nullptr, !yes);
    }
}

TEST_F(Lifecycle, MinimisingHidesOnlyWhileTheTrayIsThere) {
    open_window(true);
    window->move(300, 250);
    trigger("m_tache");
    EXPECT_FALSE(window->isVisible());
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible() && !window->isMinimized() && centred());

    // Minimised from the title bar, then the tray goes away: shown again.
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
    tray.set_available(false);
    EXPECT_TRUE(window->isVisible() && !window->isMinimized());

    trigger("m_tache");
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible() && window->isMinimized());
}

TEST_F(Lifecycle, AFileThatCannotBeReadIsNeverSavedOverAndADamagedOneIsCopiedFirst) {
    ASSERT_EQ(::mkdir(data.file("planifs.txt").c_str(), 0700), 0);
    open_window(true);
    store(QStringLiteral("Nouveau"));
    std::vector<std::string> texts = prompter.take_texts();
    ASSERT_EQ(texts.size(), 2u);
    for (const std::string& text : texts)
        EXPECT_NE(text.find("c'est un dossier"), std::string::npos) << text;
    EXPECT_EQ(window->table().line_count(), 0);

    // Readable again, but damaged: the command works on what it holds, and
    // the save first keeps a copy of it.
    ASSERT_EQ(::rmdir(data.file("planifs.txt").c_str()), 0);
    write_file(data.file("planifs.txt"), "\"Ancien\",\"http://site/\"\r\n");
    store(QStringLiteral("Nouveau"));
    texts = prompter.take_texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("est abîmé"), std::string::npos) << texts[0];
    EXPECT_NE(texts[1].find(data.file("planifs.txt.bak")), std::string::npos) << texts[1];
    EXPECT_EQ(read_file(data.file("planifs.txt.bak")), "\"Ancien\",\"http://site/\"\r\n");
    EXPECT_EQ(grid_titles(), (std::vector<std::string>{"Ancien", "Nouveau"}));
}

TEST_F(Lifecycle, EachPreferenceItemWritesItsFileOrSaysWhyNot) {
    // Start in the tray; every image format, which the extension lists follow; start with the session, whose
    // entry in the autostart folder (made for it) runs the program once the panel has had time to come.
    const std::string entry = home.file("config/autostart/quillmoor.desktop");
    for (const auto& [item, pref, extensions] : {std::tuple{"m_tb", data.file("pref1.txt"), 4},
                                                 {"m_formats", data.file("pref2.txt"), 8},
                                                 {"m_session", entry, 4}}) {
        SCOPED_TRACE(item);
        trigger(item);
        if (pref == entry) {
            QProcess validate; // as desktops read it: a warning fails too
            validate.start(QStringLiteral(DESKTOP_FILE_VALIDATE), {QString::fromStdString(pref)});
            EXPECT_TRUE(validate.waitForFinished() && validate.exitCode() == 0 && validate.readAll().isEmpty());
            EXPECT_NE(read_file(pref).find(R"(
TryExec=/opt/Quillmoor à l'essai/bin/quillmoor
Exec=sh -c "sleep 5; exec \\"\\$0\\"" "/opt/Quillmoor à l'essai/bin/quillmoor"
)"),
                      std::string::npos)
                << read_file(pref);
        } else {
            EXPECT_EQ(read_file(pref), "\"1\"\r\n");
        }
        EXPECT_EQ(form->Combo4[3]->count(), extensions);
        trigger(item);
        EXPECT_FALSE(file_exists(pref));

        ASSERT_TRUE(std::filesystem::create_directories(pref));
        open_window();
        QAction* action = window->findChild<QAction*>(QLatin1String(item));
        ASSERT_TRUE(action->isChecked());
        action->trigger();
        EXPECT_TRUE(action->isChecked()) << "the tick shows what is on disk";
        EXPECT_EQ(prompter.take_texts().size(), 1u);
        ::rmdir(pref.c_str());
        open_window();
    }
}

} // namespace
