#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/paths.hpp"
#include "payload/payload.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace payload_test {

namespace fs = std::filesystem;

// The archives made at build time by tests/tools/unpack_fixtures.py.
inline fs::path fixture(const std::string& name) { return fs::path(UNPACK_FIXTURES) / name; }

inline std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The entry names the generator read back with Python's zipfile.
inline std::vector<std::string> entry_names(const std::string& archive) {
    std::ifstream in(fixture(archive + ".entries"), std::ios::binary);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) names.push_back(line);
    return names;
}

// Every file (with its bytes) and directory (nullopt) below `root`, by its
// path relative to `root` with "/" between elements.
using tree = std::map<std::string, std::optional<std::string>>;

inline tree read_tree(const fs::path& root) {
    tree result;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = item.path().lexically_relative(root).generic_string();
        if (item.is_directory())
            result[name] = std::nullopt;
        else
            result[name] = read_bytes(item.path());
    }
    return result;
}

struct progress_event {
    std::string text;  // empty for the window's destruction and a bare answer
    float fraction;
    bool destroyed;
    bool executable_present;
    bool temp_archive_present;
    bool answered_only = false;  // handled its messages without moving the bar
};

// The progress window as a recorder: what was sent, and what the disk
// looked like at that moment.
class recording_progress final : public progress_display {
public:
    explicit recording_progress(const path_set& paths) : paths_(paths) {}

    std::vector<progress_event> events;
    std::function<void()> on_destroy = [] {};

    void show_window(void*, const std::string&, const std::string&) override {
        ADD_FAILURE() << "the extraction never shows the window: the start-up sequence does";
    }
    void set_progress(const std::string& text, float fraction) override {
        events.push_back({text, fraction, false, present(paths_.exe_path),
                          present(paths_.temp_archive_path)});
    }
    void handle_messages() override {
        events.push_back({"", 0.0f, false, false, false, true});
    }

    // The bar's fractions in order, without the bare answers.
    std::vector<float> fractions() const {
        std::vector<float> moved;
        for (const progress_event& event : events)
            if (!event.destroyed && !event.answered_only) moved.push_back(event.fraction);
        return moved;
    }
    std::size_t bare_answers() const {
        std::size_t count = 0;
        for (const progress_event& event : events) count += event.answered_only;
        return count;
    }
    void destroy_window() override {
        events.push_back({"", 0.0f, true, present(paths_.exe_path),
                          present(paths_.temp_archive_path)});
        on_destroy();
    }

private:
    static bool present(const std::string& path) { return fs::exists(fs::path(path)); }
    const path_set& paths_;
};

// The platform's flush as a recorder: every file the extraction told of and
// every file it waited for, with what the disk held at that moment.
class recording_flush final : public disk_flush {
public:
    struct told {
        std::string path;
        std::optional<std::string> bytes;  // the file's bytes when told; nothing when absent
    };
    std::vector<told> begun;
    std::vector<told> finished;
    // How many window events had happened when each file was waited for.
    std::vector<std::size_t> finished_after_events;
    const std::vector<progress_event>* events = nullptr;
    std::function<void(const std::string&)> on_finish = [](const std::string&) {};

    void begin(const std::string& path) override { begun.push_back({path, bytes_of(path)}); }
    void finish(const std::string& path, const std::function<void()>&) override {
        finished.push_back({path, bytes_of(path)});
        finished_after_events.push_back(events ? events->size() : 0);
        on_finish(path);
    }

private:
    static std::optional<std::string> bytes_of(const std::string& path) {
        if (!fs::is_regular_file(fs::path(path))) return std::nullopt;
        return read_bytes(path);
    }
};

// Whether this process still holds `path` open.
inline bool held_open(const fs::path& path) {
#ifdef _WIN32
    // The C runtime opens without delete sharing: an open file cannot be
    // renamed away.
    const fs::path moved = path.string() + ".moved";
    std::error_code ec;
    fs::rename(path, moved, ec);
    if (ec) return true;
    fs::rename(moved, path);
    return false;
#else
    const fs::path wanted = fs::canonical(path);
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(fd.path(), ec);
        if (!ec && target == wanted) return true;
    }
    return false;
#endif
}

// A scratch directory laid out like a player's folder, with the launcher's
// path set.
class extraction_test : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    std::ofstream out;
    // Stands still unless a test lets it move: then the pacer comes due.
    fake_clock clock;
    // The window the temporary archive's writing keeps answering.
    recording_progress writing_window{paths};
    progress_pacer writing_pacer{writing_window, clock};
    // What the extraction asks of the disk.
    recording_flush flush;
    written_files written{flush};

    // Puts a fixture archive where the unpacking expects the temporary archive.
    void place_archive(const std::string& archive) {
        fs::copy_file(fixture(archive + ".zip"), paths.temp_archive_path);
    }

    // Runs the extraction; returns the error's text, or "" when none.
    std::string extract(recording_progress& progress) {
        try {
            progress_pacer pacer(progress, clock);
            flush.events = &progress.events;
            extract_archive(paths, whole_file_region(paths.temp_archive_path),
                            after_unpacking::remove_file, out, pacer, written);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }

    tree data_tree() const { return read_tree(paths.data_dir); }
};

}  // namespace payload_test
