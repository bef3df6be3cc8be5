#pragma once

// The start-up sequence's steps and its progress window as one recording
// fake: every call in order,
// with what the file system looked like when the archive was about to be
// written; it can be told to throw at one step.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/startup.hpp"
#include "base/exce.hpp"

class recording_steps final : public startup_steps, public progress_display {
public:
    explicit recording_steps(const path_set& paths) : paths_(paths) {}

    std::vector<std::string> calls;
    std::string fail_at;
    std::function<void()> thrower = [] { throw exce("could not read file info"); };
    std::function<void()> on_extract = [] {};  // what the fake unpacking puts on disk
    file_records extracted_records;            // what it says it wrote
    std::vector<bool> unchanged_at_extract;
    std::optional<install_stamp> stamp_at_extract;  // as the unpacking began
    std::uint64_t free_bytes = std::uint64_t(1) << 40;
    std::uint64_t unit_bytes = 1;  // every byte its own unit: the figures are the bytes
    bool data_dir_present_at_write = true;
    bool temp_archive_present_at_write = true;
    bool stream_open_at_write = true;
    bool stamp_present_at_write = false;
    bool extracted_with_this_window = false;

    // The calls without their arguments.
    std::vector<std::string> call_names() const {
        std::vector<std::string> names;
        for (const std::string& call : calls) names.push_back(call.substr(0, call.find('(')));
        return names;
    }

    void show_window(void* instance, const std::string& caption, const std::string& text) override {
        record("show_progress_window(" + std::to_string(instance != nullptr) + ",\"" + caption +
               "\",\"" + text + "\")");
    }
    void set_progress(const std::string& text, float fraction) override {
        record("set_progress(\"" + text + "\"," + std::to_string(fraction) + ")");
    }
    void handle_messages() override { record("handle_messages"); }
    void check_archive() override { record("check_archive"); }
    void write_temp_archive(std::ofstream& out, progress_pacer&) override {
        data_dir_present_at_write = std::filesystem::exists(paths_.data_dir);
        temp_archive_present_at_write = std::filesystem::exists(paths_.temp_archive_path);
        stamp_present_at_write = std::filesystem::exists(paths_.stamp_path);
        stream_open_at_write = out.is_open();
        record("write_temp_archive");
    }
    file_records extract_archive(std::ofstream&, const std::vector<bool>& unchanged,
                                 progress_pacer& progress) override {
        extracted_with_this_window = &progress.display() == this;
        unchanged_at_extract = unchanged;
        stamp_at_extract = read_stamp(paths_);
        record("extract_archive");
        on_extract();
        return extracted_records;
    }
    void launch() override { record("launch"); }
    void lock_install() override { record("lock_install"); }
    void unlock_install() override { calls.push_back("unlock_install"); }
    std::uint64_t free_space() override { return free_bytes; }
    std::uint64_t allocation_unit() override { return unit_bytes; }
    void destroy_window() override { calls.push_back("destroy_progress_window"); }
    void show_error(const std::string& text) override { calls.push_back("show_error(" + text + ")"); }

private:
    void record(const std::string& call) {
        const std::string name = call.substr(0, call.find('('));
        calls.push_back(call);
        if (name == fail_at) thrower();
    }
    const path_set& paths_;
};
