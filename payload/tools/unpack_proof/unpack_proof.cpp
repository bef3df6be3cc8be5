// The build's proof that an archive unpacks: the launcher's own extraction
// (payload/extract.cpp, unchanged) run once over the archive in a scratch
// folder, as a first start in an empty player folder would run it. It reads
// the archive through the launcher's own reader of a region of a file, the
// region here being the whole archive file, which it leaves where it is.
//
//   unpack_proof [--keep] ARCHIVE SCRATCH APP_NAME GAME_EXE START_MAP
//
// Exit 0: every entry unpacked. Exit 1: the extraction failed; standard
// output then holds two lines: how many entries it had handled (moved the
// bar for) when it failed, and the launcher's message. The packer, which
// has the names, tells from these which entry failed. Exit 2: the proof
// itself could not be set up. SCRATCH is removed at the end, unless --keep
// asks to leave the unpacked tree there (for the tests that compare it).
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "base/paths.hpp"
#include "base/progress_pacer.hpp"
#include "payload/payload.hpp"

namespace fs = std::filesystem;

namespace {

// Counts the entries handled: the extraction moves the bar once at the end
// of each entry, and within one only when its pacer comes due, which the
// proof's clock never lets happen.
class entry_counter final : public progress_display {
public:
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override { ++handled; }
    void handle_messages() override {}
    void destroy_window() override {}
    unsigned long handled = 0;
};

// No window to keep answering: the time stands still.
class still_clock final : public monotonic_clock {
public:
    std::int64_t now_ns() override { return 0; }
};

// Removes the scratch folder on every way out, from outside it.
class scratch_folder {
public:
    scratch_folder(fs::path path, bool keep)
        : path_(std::move(path)), start_(fs::current_path()), keep_(keep) {
        fs::remove_all(path_);
        fs::create_directories(path_);
        fs::current_path(path_);
    }
    ~scratch_folder() {
        std::error_code ec;
        fs::current_path(start_, ec);
        if (!keep_) fs::remove_all(path_, ec);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

private:
    fs::path path_;
    fs::path start_;
    bool keep_;
};

}  // namespace

int main(int argc, char** argv) {
    const bool keep = argc > 1 && std::string(argv[1]) == "--keep";
    if (keep) {
        --argc;
        ++argv;
    }
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: unpack_proof [--keep] ARCHIVE SCRATCH APP_NAME GAME_EXE START_MAP\n");
        return 2;
    }
    std::string message;
    unsigned long handled = 0;
    try {
        const fs::path archive = fs::absolute(argv[1]);
        scratch_folder scratch(fs::absolute(argv[2]), keep);
        const path_set paths = form_relative_paths(argv[3], argv[4], argv[5]);
        const archive_region region = whole_file_region(archive);
        entry_counter counter;
        still_clock clock;
        progress_pacer pacer(counter, clock);
        try {
            std::ofstream out;
            written_files written;  // this build's flush does nothing: the scratch is thrown away
            extract_archive(paths, region, after_unpacking::keep_file, out, pacer, written);
            return 0;
        } catch (const std::exception& error) {
            message = error.what();
            handled = counter.handled;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "unpack_proof: could not set up the proof of \"%s\" in \"%s\": %s\n",
                     argv[1], argv[2], error.what());
        return 2;
    }
    std::printf("%lu\n%s\n", handled, message.c_str());
    return 1;
}

