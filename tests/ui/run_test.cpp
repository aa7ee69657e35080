#include "window_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <QLabel>
#include <QTimer>

#include "support/test_server.h"

namespace {

/// A site of one page showing a.gif and b.jpg. Set `stall` to hold back the
/// page ('p'), image a ('i'), or image a after half its bytes ('h'), until
/// release() or two seconds have passed.
class Run : public WindowTest {
protected:
    void SetUp() override {
        server.server().Get("/", [this](const httplib::Request&, httplib::Response& response) {
            ++pages_served;
            if (stall == 'p')
                hold_back();
            response.set_content("<img src=\"a.gif\"><img src=\"b.jpg\"><img src=\"a.gif\">", "text/html");
        });
        server.server().Get(R"(/(\w)\.(gif|jpg))",
                            [this](const httplib::Request& request, httplib::Response& response) {
                                serve_image(request.matches[1], response);
                            });
        server.start();
        ScheduleLine line = stored("Site", destination.file("sous dossier"));
        line.set_field(field::start_address, server.url("/"));
        open_with({line});
        select(1);
    }
    void TearDown() override {
        release();
        window.reset();
        transfer.reset();
    }

    void serve_image(const std::string& name, httplib::Response& response) {
        const std::string body = "GIF89a" + std::string(2000, name[0]);
        if (name == "a" && stall == 'i')
            hold_back();
        if (name != "a" || stall != 'h')
            return response.set_content(body, "image/gif");
        response.set_content_provider(
            body.size(), "image/gif", [this, body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset > 0)
                    hold_back();
                const std::size_t half = body.size() / 2;
                return sink.write(body.data() + offset, offset == 0 ? half : body.size() - half);
            });
    }
    void hold_back() {
        stalled = true;
        const int since = releases;
        for (int waited = 0; releases == since && waited < 2000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (releases == since)
            stall_ran_out = true;
    }
    void release() { ++releases; }

    TestServer server;
    TempDir destination;
    std::atomic<int> pages_served{0};
    std::atomic<char> stall{0};
    std::atomic<bool> stalled{false};
    std::atomic<bool> stall_ran_out{false};
    std::atomic<int> releases{0};
};

TEST_F(Run, ExtraireMaintenantKeepsTheWindowAliveCountsWritesTheImagesAndStamps) {
    stall = 'p';
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        // The commands stay locked for the whole run.
        EXPECT_FALSE(grid->Command6->isEnabled());
        EXPECT_FALSE(window->findChild<QAction*>(QStringLiteral("m_reinit"))->isEnabled());
    });
    timer.start(20);
    click(grid->Command6);
    EXPECT_GE(ticks, 20) << "the event loop stood still while the server stalled";
    EXPECT_EQ(form->Label4->text(), QStringLiteral("2 images copiées"));
    EXPECT_EQ(list_directory(destination.file("sous dossier")), (std::vector<std::string>{"a.gif", "b.jpg"}));
    EXPECT_NE(planifs().find(R"("2007/05/14","08:45")"), std::string::npos) << planifs();
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
    const std::string before = planifs();
    select(1);
    click(grid->Command6);
    const std::vector<std::string> texts = prompter.take_texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("C:\\Images"), std::string::npos) << texts[0];
    EXPECT_EQ(pages_served, 0);
    EXPECT_EQ(planifs(), before);
    EXPECT_TRUE(grid->Command6->isEnabled());
}

TEST_F(Run, ClosingTheWindowStopsTheRunLeavingNoImagePartlyWrittenAndTheFileAsItWas) {
    const std::string before = planifs();
    for (const char stalling : {'p', 'i', 'h'}) {
        SCOPED_TRACE(stalling);
        open_window();
        select(1);
        stall = stalling;
        stalled = false;
        bool quit_requested = false;
        QObject::connect(window.get(), &f_qmr::quit_requested, [&] { quit_requested = true; });
        // Yes to the close question once the server stalls, and with images
        // on their way once they have begun on disk.
        QTimer question;
        QObject::connect(&question, &QTimer::timeout, [&] {
            if (stalled && (stalling == 'p' || !list_directory(destination.file("sous dossier")).empty())) {
                question.stop();
                prompter.answers = {PromptButton::yes};
                window->close();
            }
        });
        question.start(10);
        click(grid->Command6);
        EXPECT_FALSE(stall_ran_out) << "the run waited for the server";
        EXPECT_TRUE(quit_requested);
        EXPECT_FALSE(window->run_in_progress());
        EXPECT_EQ(prompter.take_texts().size(), 1u);
        EXPECT_TRUE(planifs() == before);
        EXPECT_EQ(list_directory(destination.file("sous dossier")), std::vector<std::string>{});
        release();
    }
}

} // namespace
