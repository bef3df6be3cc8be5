// Arbitrary bytes as the temporary archive, unpacked by the launcher's own
// extraction in a scratch folder: whatever the archive says, nothing may be
// written outside the data directory (and the temporary archive itself).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "base/fs.hpp"
#include "base/paths.hpp"
#include "payload/payload.hpp"

namespace fs = std::filesystem;

namespace {

class no_progress final : public progress_display {
public:
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override {}
    void handle_messages() override {}
    void destroy_window() override {}
};

// The fuzzer's unpackings are thrown away: nothing waits for the disk.
class no_flush final : public disk_flush {
public:
    void begin(const std::string&) override {}
    void finish(const std::string&, const std::function<void()>&) override {}
};

// The one call of the extraction, so that a change of its signature touches
// only this line.
void unpack(const path_set& paths) {
    std::ofstream out;
    no_progress progress;
    monotonic_clock clock;
    progress_pacer pacer(progress, clock);
    no_flush flush;
    written_files written(flush);
    extract_archive(paths, whole_file_region(to_fs_path(paths.temp_archive_path)),
                    after_unpacking::remove_file, out, pacer, written);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "extract_fuzz: %s\n", what.c_str());
    std::abort();
}

// <tmp>/launcher-fuzz-<pid>/outer/run: the run folder sits two levels deep,
// so that names climbing out of it with ".." land somewhere this harness looks.
const fs::path& base_dir() {
    static const fs::path base =
        fs::temp_directory_path() / ("launcher-fuzz-" + std::to_string(getpid()));
    return base;
}

// Fails unless `dir` holds exactly the one entry `only`.
void expect_only(const fs::path& dir, const std::string& only) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        if (entry.path().filename() != only)
            fail("written outside the data directory: " + entry.path().string());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer names its corpus and crash files relative to where it started.
    static const fs::path start_dir = fs::current_path();
    const fs::path outer = base_dir() / "outer";
    const fs::path run = outer / "run";
    std::error_code ec;
    fs::remove_all(base_dir(), ec);
    if (ec) fail("remove_all " + base_dir().string() + ": " + ec.message());
    fs::create_directories(run);
    fs::current_path(run);

    const path_set paths = form_relative_paths("Fuzz", "./game.exe", "./map.map");
    {
        std::ofstream archive(paths.temp_archive_path, std::ios::binary | std::ios::trunc);
        archive.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!archive) fail("could not write " + paths.temp_archive_path);
    }
    try {
        unpack(paths);
    } catch (const std::exception&) {
        // Refusing a damaged archive is the extraction's job, not a finding.
    }

    fs::current_path(base_dir());
    expect_only(base_dir(), "outer");
    expect_only(outer, "run");
    const fs::path data_dir = fs::path(paths.data_dir).filename().empty()
                                  ? fs::path(paths.data_dir).parent_path().filename()
                                  : fs::path(paths.data_dir).filename();
    const fs::path temp = fs::path(paths.temp_archive_path).filename();
    for (const fs::directory_entry& entry : fs::directory_iterator(run))
        if (entry.path().filename() != data_dir && entry.path().filename() != temp)
            fail("written outside the data directory: " + entry.path().string());
    fs::current_path(start_dir);
    fs::remove_all(base_dir(), ec);
    return 0;
}
