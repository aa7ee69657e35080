#include "window_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <QLabel>
#include <QTimer>

#include "support/test_server.h"

namespace {

class Run : public WindowTest {
protected:
    void SetUp() override {
        server.server().Get("/", [this](const httplib::Request&, httplib::Response& response) {
            ++pages_served;
            // Holds the answer back until released or two seconds have passed.
            for (int waited = 0; stall && !released && waited < 2000; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            response.set_content("<img src=\"a.gif\"><img src=\"b.jpg\"><img src=\"a.gif\">", "text/html");
        });
        server.server().Get(R"(/(\w)\.(gif|jpg))", [](const httplib::Request& request, httplib::Response& response) {
            response.set_content("GIF89a" + std::string(2000, request.matches[1].str()[0]), "image/gif");
        });
        server.start();
        ScheduleLine line = stored("Site", destination.file("sous dossier"));
        line.set_field(field::start_address, server.url("/"));
        open_with({line});
        select(1);
    }
    void TearDown() override {
        released = true;
        window.reset();
        transfer.reset();
    }

    std::string line_stamp() const {
        ScheduleTable on_disk;
        load_schedule(folder(), on_disk);
        return on_disk.line(1).field(field::last_run_date) + " " + on_disk.line(1).field(field::last_run_time);
    }

    TestServer server;
    TempDir destination;
    std::atomic<int> pages_served{0};
    std::atomic<bool> stall{false};
    std::atomic<bool> released{false};
};

TEST_F(Run, ExtraireMaintenantCountsInTheStatusLineWritesTheImagesAndStamps) {
    click(grid->Command6);
    EXPECT_EQ(form->Label4->text(), QStringLiteral("2 images copiées"));
    EXPECT_EQ(list_directory(destination.file("sous dossier")), (std::vector<std::string>{"a.gif", "b.jpg"}));
    EXPECT_EQ(line_stamp(), "2007/05/14 08:45");
    EXPECT_EQ(form->Label4->palette().color(QPalette::Window), window->palette().color(QPalette::Button));
    for (QPushButton* button : {form->Command2, grid->Command3, grid->Command4, grid->Command6})
        EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Run, ARefusedDestinationIsNamedAndNothingRunsOrIsStamped) {
    ScheduleLine line = window->table().line(1);
    line.set_field(field::destination, "C:\\Images");
    open_with({line});
    select(1);
    click(grid->Command6);
    const std::vector<std::string> texts = prompter.take_texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("C:\\Images"), std::string::npos) << texts[0];
    EXPECT_EQ(pages_served, 0);
    EXPECT_EQ(line_stamp(), "2007/05/01 10:20");
    EXPECT_TRUE(grid->Command6->isEnabled());
}

TEST_F(Run, TheEventLoopKeepsRunningWhileTheServerStalls) {
    stall = true;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        // The commands stay locked for the whole run.
        EXPECT_FALSE(grid->Command6->isEnabled());
        EXPECT_FALSE(window->findChild<QAction*>(QStringLiteral("m_reinit"))->isEnabled());
    });
    timer.start();
    click(grid->Command6);
    EXPECT_GE(ticks, 20);
    EXPECT_EQ(form->Label4->text(), QStringLiteral("2 images copiées"));
}

TEST_F(Run, ClosingTheWindowStopsTheRunWhichIsNotStamped) {
    stall = true;
    bool quit_requested = false;
    QObject::connect(window.get(), &f_qmr::quit_requested, [&] { quit_requested = true; });
    QTimer::singleShot(200, window.get(), [this] { window->close(); });
    const auto start = std::chrono::steady_clock::now();
    click(grid->Command6);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900)) << "the fetch went on";
    EXPECT_TRUE(quit_requested);
    EXPECT_EQ(line_stamp(), "2007/05/01 10:20");
    EXPECT_TRUE(list_directory(destination.file("sous dossier")).empty());
}

} // namespace
