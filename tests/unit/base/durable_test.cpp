#include "base/durable.hpp"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "base/fs.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

namespace {

constexpr std::int64_t ms = 1'000'000;

// The platform's flush as a script: each wait takes `pieces` calls of its
// `between`, each a step of the clock; everything asked is logged in order,
// the last step for all the files at once too.
class scripted_flush final : public disk_flush {
public:
    explicit scripted_flush(fake_clock& clock, std::vector<std::string>& log)
        : clock_(clock), log_(log) {}
    int pieces = 0;
    std::int64_t piece_ns = 0;
    std::string fail_on;

    void begin(const std::string& path) override { log_.push_back("begin " + path); }
    void finish(const std::string& path, const std::function<void()>& between) override {
        if (path == fail_on)
            throw file_system_error("flush", path, path, std::make_error_code(std::errc::io_error));
        for (int i = 0; i < pieces; ++i) {
            clock_.now += piece_ns;
            between();
        }
        log_.push_back("finish " + path);
    }
    void complete(const std::vector<std::string>& paths) override {
        std::string all;
        for (const std::string& path : paths) all += (all.empty() ? "" : ",") + path;
        log_.push_back("complete " + all);
    }

private:
    fake_clock& clock_;
    std::vector<std::string>& log_;
};

// The window as the log sees it.
class logging_display final : public progress_display {
public:
    explicit logging_display(std::vector<std::string>& log) : log_(log) {}
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override { log_.push_back("bar"); }
    void handle_messages() override { log_.push_back("answer"); }
    void destroy_window() override {}

private:
    std::vector<std::string>& log_;
};

struct flush_case {
    const char* label;
    std::vector<std::string> written;  // in the order the files were closed
    int pieces;                       // waits within each file's flush
    std::int64_t piece_ms;
    std::vector<std::string> expected;
};

void PrintTo(const flush_case& c, std::ostream* os) { *os << c.label; }

class WrittenFiles : public ::testing::TestWithParam<flush_case> {};

TEST_P(WrittenFiles, EveryFileToldOfIsWaitedForInOrderWhileTheWindowAnswers) {
    const flush_case& c = GetParam();
    fake_clock clock;
    std::vector<std::string> log;
    scripted_flush flush(clock, log);
    flush.pieces = c.pieces;
    flush.piece_ns = c.piece_ms * ms;
    logging_display display(log);
    progress_pacer pacer(display, clock, 50 * ms);

    written_files written(flush);
    for (const std::string& path : c.written) written.wrote(path);
    EXPECT_EQ(written.pending(), c.written.size());
    log.push_back("flush_all");
    written.flush_all(pacer);
    EXPECT_EQ(log, c.expected);
    EXPECT_EQ(written.pending(), 0u);

    // Once flushed, a file is not waited for again.
    log.clear();
    written.flush_all(pacer);
    EXPECT_EQ(log, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrittenFiles,
    ::testing::Values(
        flush_case{"nothing_written", {}, 0, 0, {"flush_all"}},
        // Each file is started on its way when it is closed, waited for at the end.
        flush_case{"quick_files",
                   {"a", "d/b", "a2"},
                   0,
                   0,
                   {"begin a", "begin d/b", "begin a2", "flush_all", "finish a", "finish d/b",
                    "finish a2", "complete a,d/b,a2"}},
        // A long wait in pieces: the window answers within it, as often as the pacer allows.
        flush_case{"long_waits",
                   {"big", "small"},
                   4,
                   30,
                   {"begin big", "begin small", "flush_all", "answer", "answer", "finish big",
                    "answer", "answer", "finish small", "complete big,small"}},
        // A file told of twice (an archive that lists a name twice) is waited for each time.
        flush_case{"same_file_twice",
                   {"x", "x"},
                   0,
                   0,
                   {"begin x", "begin x", "flush_all", "finish x", "finish x", "complete x,x"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WrittenFilesFailure, AFileTheDiskRefusesStopsTheFlushWithItsError) {
    fake_clock clock;
    std::vector<std::string> log;
    scripted_flush flush(clock, log);
    flush.fail_on = "b";
    logging_display display(log);
    progress_pacer pacer(display, clock);
    written_files written(flush);
    for (const char* path : {"a", "b", "c"}) written.wrote(path);
    EXPECT_THROW(written.flush_all(pacer), file_system_error);
    EXPECT_EQ(log, (std::vector<std::string>{"begin a", "begin b", "begin c", "finish a"}));
}

// A platform whose waits run on threads of their own: what each thread was
// asked, under a lock; a wait can be held until the test lets it go.
class threaded_flush final : public disk_flush {
public:
    explicit threaded_flush(unsigned threads) : threads_(threads) {}
    std::string fail_on;
    bool hold = false;  // every wait stays until released

    void begin(const std::string& path) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        begun_.insert(path);
    }
    void finish(const std::string& path, const std::function<void()>& between) override {
        between();  // a thread of its own has no window to tick: this does nothing
        std::unique_lock<std::mutex> lock(mutex_);
        // A safeguard, not a measure: a wait nobody releases ends the test.
        if (hold && !released_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; }))
            unreleased_ = true;
        if (!begun_.count(path)) unbegun_ = true;
        finished_.insert(path);
        if (path == fail_on)
            throw file_system_error("flush", path, path, std::make_error_code(std::errc::io_error));
    }
    unsigned background_threads() const override { return threads_; }
    void complete(const std::vector<std::string>& paths) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        // Only once every wait is over.
        completed_with_ = paths;
        completed_after_all_ = finished_.size() == std::set<std::string>(paths.begin(), paths.end()).size();
    }
    std::vector<std::string> completed_with() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return completed_with_;
    }
    bool completed_after_all() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return completed_after_all_;
    }

    void release() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        released_.notify_all();
    }
    std::set<std::string> finished() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }
    bool unreleased() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return unreleased_;
    }
    bool unbegun() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return unbegun_;
    }

private:
    unsigned threads_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
    bool unreleased_ = false;
    bool unbegun_ = false;
    std::set<std::string> begun_, finished_;
    std::vector<std::string> completed_with_;
    bool completed_after_all_ = false;
};

// The window while the threads finish: its answers let the held waits go.
class releasing_display final : public progress_display {
public:
    releasing_display(threaded_flush& flush, int release_after)
        : flush_(flush), release_after_(release_after) {}
    int answers = 0;
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override {}
    void handle_messages() override {
        if (++answers == release_after_) flush_.release();
    }
    void destroy_window() override {}

private:
    threaded_flush& flush_;
    int release_after_;
};

std::vector<std::string> numbered_files(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back("file " + std::to_string(i));
    return paths;
}

TEST(WrittenFilesInBackground, EveryFileIsFlushedBeforeFlushAllReturns) {
    for (const unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        threaded_flush flush(threads);
        releasing_display display(flush, 0);
        fake_clock clock;
        progress_pacer pacer(display, clock);
        const std::vector<std::string> paths = numbered_files(200);
        written_files written(flush);
        for (const std::string& path : paths) written.wrote(path);
        written.flush_all(pacer);
        EXPECT_EQ(written.pending(), 0u);
        EXPECT_EQ(flush.finished(), std::set<std::string>(paths.begin(), paths.end()));
        EXPECT_FALSE(flush.unbegun());
        EXPECT_EQ(flush.completed_with(), paths);
        EXPECT_TRUE(flush.completed_after_all());
    }
}

// Held waits are let go only by the window's third answer: flush_all returns
// only when it kept the window answering while it waited.
TEST(WrittenFilesInBackground, WaitingForTheThreadsKeepsTheWindowAnswering) {
    threaded_flush flush(2);
    flush.hold = true;
    releasing_display display(flush, 3);
    fake_clock clock(100 * ms);  // every tick finds the pacer due
    progress_pacer pacer(display, clock);
    written_files written(flush);
    for (const std::string& path : numbered_files(5)) written.wrote(path);
    written.flush_all(pacer);
    EXPECT_FALSE(flush.unreleased());
    EXPECT_GE(display.answers, 3);
    EXPECT_EQ(flush.finished().size(), 5u);
}

TEST(WrittenFilesInBackground, AFailureOnAThreadIsThrownByFlushAll) {
    threaded_flush flush(3);
    flush.fail_on = "file 7";
    releasing_display display(flush, 0);
    fake_clock clock;
    progress_pacer pacer(display, clock);
    {
        written_files written(flush);
        for (const std::string& path : numbered_files(20)) written.wrote(path);
        EXPECT_THROW(written.flush_all(pacer), file_system_error);
    }  // and the threads end with the object, whatever was left queued
    EXPECT_TRUE(flush.finished().count("file 7"));
    EXPECT_TRUE(flush.completed_with().empty());  // a failed flush vouches for nothing
}

// The platform's own calls on real files.
using DurableFiles = scratch_dir_test;

std::string failure_text(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::filesystem::filesystem_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST_F(DurableFiles, RenameReplacesTheTargetAndFlushesOnlyWhatIsThere) {
    write_file("folder/stamp", "old");
    write_file("folder/stamp.writing", "new");
    flush_file("./folder/stamp.writing");
    rename_durably("./folder/stamp.writing", "./folder/stamp");
    EXPECT_EQ(read_file("folder/stamp"), "new");
    EXPECT_FALSE(path_exists("./folder/stamp.writing"));

    // In the current folder too (a name without a folder).
    write_file("top.writing", "top");
    rename_durably("top.writing", "top");
    EXPECT_EQ(read_file("top"), "top");

    EXPECT_EQ(failure_text([] { rename_durably("./folder/absent", "./folder/stamp"); })
                  .rfind("rename: ", 0),
              0u);
    EXPECT_EQ(read_file("folder/stamp"), "new");
}

}  // namespace
