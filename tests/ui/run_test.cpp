#include "window_fixture.h"

#include <QLabel>
#include <QTimer>

#include "ui/scheduler.h"

namespace {

/// Line 1, selected, fetches page /aba/ of the site into a folder still to be made.
class Run : public WindowTest {
protected:
    void SetUp() override {
        site.start();
        ScheduleLine line = stored("Site", images);
        line.set_field(field::start_address, site.url("aba"));
        open_with({line});
        select(1);
    }

    const std::string images = home.file("sous dossier");
};

TEST_F(Run, ExtraireMaintenantKeepsTheWindowAliveSkipsAPassCountsWritesTheImagesAndStamps) {
    site.stall = 'p';
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // A pass that comes during the run is skipped, and its count starts again.
        if (++ticks == 1) {
            for (int tick = 0; tick < Scheduler::ticks_per_pass; ++tick)
                window->scheduler()->Timer1_Timer();
            EXPECT_EQ(window->scheduler()->tick_count(), 0);
        }
        // The commands stay locked for the whole run.
        EXPECT_FALSE(grid->Command6->isEnabled());
        EXPECT_FALSE(window->findChild<QAction*>(QStringLiteral("m_reinit"))->isEnabled());
    });
    timer.start(20);
    click(grid->Command6);
    EXPECT_GE(ticks, 20) << "the event loop stood still while the server stalled";
    EXPECT_EQ(form->Label4->text(), QStringLiteral("2 images copiées"));
    EXPECT_EQ(list_directory(images), (std::vector<std::string>{"a.gif", "b.gif"}));
    EXPECT_NE(planifs().find(R"("2007/05/14","08:45")"), std::string::npos) << planifs();
    EXPECT_EQ(form->Label4->palette().color(QPalette::Window), window->palette().color(QPalette::Button));
    for (QPushButton* button : {form->Command2, grid->Command3, grid->Command4, grid->Command6})
        EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Run, AMessageBoxOpenDuringARunLeavesTheTransfersGoingOn) {
    ScheduleLine line = window->table().line(1);
    line.set_field(field::start_address, site.url("e"));
    open_with({line});
    select(1);
    // "A propos" opens once the image has begun, and stays open five seconds.
    prompter.while_open = [] { QTest::qWait(5000); };
    QTimer::singleShot(500, window.get(),
                       [this] { window->findChild<QAction*>(QStringLiteral("m_apropos"))->trigger(); });
    click(grid->Command6);
    EXPECT_EQ(prompter.take_texts(), std::vector<std::string>{"Quillmoor v2.0"});
    EXPECT_EQ(list_directory(images), std::vector<std::string>{"e.gif"});
}

TEST_F(Run, TheTickOfEveryImageFormatGoesWithTheRun) {
    ScheduleLine line = window->table().line(1);
    line.set_field(field::start_address, site.url("p"));
    open_with({line});
    window->findChild<QAction*>(QStringLiteral("m_formats"))->trigger();
    select(1);
    click(grid->Command6);
    EXPECT_EQ(list_directory(images), std::vector<std::string>{"p.png"});
}

} // namespace
