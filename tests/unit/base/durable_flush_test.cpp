// The platform's flush on real files (a build without LAUNCHER_FLUSH_TO_DISK
// asks nothing of the disk, so it finds nothing missing either).
#include "base/durable.hpp"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

namespace {

using DurableFlush = scratch_dir_test;

std::string failure_text(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::filesystem::filesystem_error& error) {
        return error.what();
    }
    return "(no error)";
}

class silent_display final : public progress_display {
public:
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override {}
    void handle_messages() override {}
    void destroy_window() override {}
};

TEST_F(DurableFlush, FlushingAFileThatIsNotThereIsAnError) {
    write_file("present", "x");
    EXPECT_NO_THROW(flush_file("./present"));
    written_files written;
    written.wrote("./present");
    written.wrote("./absent");
    fake_clock clock;
    silent_display display;
    progress_pacer pacer(display, clock);
    const std::string text = failure_text([&] { written.flush_all(pacer); });
    const std::string missing = failure_text([] { flush_file("./absent"); });
    EXPECT_EQ(text.rfind("flush: ", 0), 0u) << text;
    EXPECT_NE(text.find("\"./absent\""), std::string::npos) << text;
    EXPECT_EQ(missing.rfind("flush: ", 0), 0u) << missing;
}

}  // namespace
