// The command line run in-process, with a scripted transfer, a fixed clock
// and a stop signal that the test raises.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "stored_line.h"
#include "support/fake_transfer.h"
#include "support/temp_dir.h"
#include "ui/data_folder.h"
#include "ui/headless_runner.h"

namespace {

const std::string site = "http://site.test/";

/// Hands the run a transfer that the test keeps, to read its calls afterwards.
class BorrowedTransfer final : public InternetTransfer {
public:
    explicit BorrowedTransfer(InternetTransfer& target) : target_(target) {}
    void set_credentials(const std::string& user_name, const std::string& password,
                         const std::string& start_address) override {
        target_.set_credentials(user_name, password, start_address);
    }
    FetchResult fetch_text(const std::string& address) override { return target_.fetch_text(address); }
    FetchResult fetch_bytes(const std::string& address) override { return target_.fetch_bytes(address); }
    void set_yield_hook(YieldHook hook) override { target_.set_yield_hook(std::move(hook)); }

private:
    InternetTransfer& target_;
};

class HeadlessRunner : public ::testing::Test {
protected:
    void SetUp() override {
        fake_.serve(site + "index.html", "<img src=\"a.gif\"> <img src=\"b.jpg\"> <img src=\"c.gif\">");
        for (const char* name : {"a.gif", "b.jpg", "c.gif"})
            fake_.serve(site + name, "GIF89a" + std::string(2'000, name[0]));
        std::filesystem::create_directories(root_.file("images"));
        line_ = StoredLine::extraction("Galerie", site + "index.html", 0, root_.file("images"));
        write_file(planifs_path(), line_.text());
    }

    /// Runs the arguments with the test's folder, transfer, clock and signal.
    int run(const std::vector<std::string>& args, bool terminal = false) {
        const CommandLineContext context{
            out_,
            err_,
            terminal,
            [this] {
                return DataFolder{root_.path() + "/", false, ""};
            },
            [this] { return std::make_unique<BorrowedTransfer>(fake_); },
            [this] { return now_(); },
            [this] { return stop_signal_(); },
        };
        return run_command_line(args, context);
    }

    std::string planifs_path() const { return root_.file("planifs.txt"); }

    TempDir root_;
    FakeTransfer fake_;
    std::function<int()> stop_signal_ = [] { return 0; };
    std::function<std::tm()> now_ = [] {
        std::tm moment{};
        moment.tm_year = 2030 - 1900;
        moment.tm_mon = 0;
        moment.tm_mday = 2;
        moment.tm_hour = 3;
        moment.tm_min = 4;
        return moment;
    };
    std::ostringstream out_, err_;
    StoredLine line_;
};

TEST_F(HeadlessRunner, StampsTheLineWithTheClock) {
    EXPECT_EQ(run({"--run", "Galerie"}), 0) << err_.str();
    EXPECT_EQ(out_.str(), "1 page visitée\n1 image copiée\n2 images copiées\n3 images copiées\n");
    line_.fields[39] = "2030/01/02";
    line_.fields[40] = "03:04";
    EXPECT_EQ(read_file(planifs_path()), line_.text());
}

TEST_F(HeadlessRunner, OnATerminalTheStatusIsRewrittenInPlace) {
    EXPECT_EQ(run({"--run", "Galerie"}, true), 0) << err_.str();
    EXPECT_EQ(out_.str(), "\r1 page visitée\x1b[K\r1 image copiée\x1b[K\r2 images copiées\x1b[K"
                          "\r3 images copiées\x1b[K\n");
}

TEST_F(HeadlessRunner, AStopSignalEndsTheRunWithoutStamping) {
    struct Case {
        int signal_number;
        std::size_t fetches_before_stop; ///< the signal comes during this fetch
        int exit_code;
        const char* out;
    };
    const Case cases[] = {
        {SIGINT, 2, 130, "1 page visitée\n"},
        {SIGTERM, 3, 143, "1 page visitée\n1 image copiée\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal_number);
        fake_.calls.clear();
        out_.str("");
        stop_signal_ = [&c, this] { return fake_.calls.size() >= c.fetches_before_stop ? c.signal_number : 0; };

        EXPECT_EQ(run({"--run", "Galerie"}), c.exit_code);
        EXPECT_EQ(out_.str(), c.out);
        EXPECT_EQ(fake_.calls.size(), c.fetches_before_stop);
        EXPECT_EQ(read_file(planifs_path()), line_.text());
    }
}

TEST_F(HeadlessRunner, AScheduleThatCannotBeSavedExitsWithOne) {
    // The data folder goes away during the run, just before the stamp is saved.
    const auto stamp = now_;
    now_ = [this, stamp] {
        std::filesystem::rename(root_.path(), root_.path() + ".gone");
        return stamp();
    };
    EXPECT_EQ(run({"--run", "Galerie"}), 1);
    std::filesystem::rename(root_.path() + ".gone", root_.path());
    EXPECT_NE(err_.str().find("planifs.txt n'a pas pu être enregistré"), std::string::npos) << err_.str();
    EXPECT_EQ(read_file(planifs_path()), line_.text());
}

TEST_F(HeadlessRunner, RepairsOfTheScheduleAreReported) {
    // A line one field short, after a sound one.
    std::string short_line = StoredLine::extraction("Court", site, 0, "/d").text();
    short_line.erase(short_line.rfind(",\""), std::string::npos).append("\r\n");
    write_file(planifs_path(), line_.text() + short_line);

    EXPECT_EQ(run({"--list"}), 0);
    EXPECT_EQ(out_.str().substr(0, 10), "1\tGalerie\t");
    EXPECT_NE(err_.str(), "");
}

TEST(RunStamp, FixedWidthDateAndTime) {
    struct Case {
        int year, month, day, hour, minute;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {2007, 5, 14, 8, 45, "2007/05/14", "08:45"},
        {2030, 1, 2, 0, 5, "2030/01/02", "00:05"},
        {1999, 12, 31, 23, 59, "1999/12/31", "23:59"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        std::tm moment{};
        moment.tm_year = c.year - 1900;
        moment.tm_mon = c.month - 1;
        moment.tm_mday = c.day;
        moment.tm_hour = c.hour;
        moment.tm_min = c.minute;
        const auto [date, time] = run_stamp(moment);
        EXPECT_EQ(date, c.date);
        EXPECT_EQ(time, c.time);
    }
}

} // namespace
