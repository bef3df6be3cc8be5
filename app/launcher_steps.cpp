#include "app/launcher_steps.hpp"

#include <memory>

#include "app/install_lock.hpp"
#include "app/launcher_paths.hpp"
#include "app/message_box.hpp"
#include "app/startup.hpp"
#include "base/fs.hpp"
#include "launch/launch.hpp"
#include "payload/archive_file.hpp"
#include "payload/attached_archive.hpp"
#include "payload/chunks.hpp"
#include "payload/contents.hpp"
#include "payload/payload.hpp"
#include "ui/progress_window.hpp"

namespace {

// The start-up sequence wired to the real payload, launch and lock. The
// archive is read from the temporary archive on the image home, and in place
// from the launcher's own file on the file home.
class launcher_steps final : public startup_steps {
public:
    launcher_steps(const path_set& paths, const payload_contents& contents)
        : paths_(paths), contents_(contents) {}

    void check_archive() override {
        archive_ = contents_.home == payload_home::file
                       ? own_attached_archive(contents_)
                       : archive_region{to_fs_path(paths_.temp_archive_path), 0,
                                        contents_.archive_size};
    }
    void write_temp_archive(std::ofstream& out, progress_pacer& progress) override {
        ::write_temp_archive(paths_, out, payload_chunks, payload_chunk_count, progress);
    }
    file_records extract_archive(std::ofstream& out, const std::vector<bool>& unchanged,
                                 progress_pacer& progress) override {
        written_files written;  // this unpacking's files, flushed before the stamp is written
        return ::extract_archive(paths_, archive_,
                                 contents_.home == payload_home::image
                                     ? after_unpacking::remove_file
                                     : after_unpacking::keep_file,
                                 out, progress, written, unchanged);
    }
    void launch() override { ::launch(paths_, platform_launch_steps()); }
    void lock_install() override { lock_ = std::make_unique<install_lock>(paths_); }
    void unlock_install() override { lock_.reset(); }
    std::uint64_t free_space() override { return ::free_space("."); }
    std::uint64_t allocation_unit() override { return ::allocation_unit("."); }
    void show_error(const std::string& text) override { show_message_box(text, "app throw"); }

private:
    const path_set& paths_;
    const payload_contents& contents_;
    archive_region archive_;
    std::unique_ptr<install_lock> lock_;
};

}  // namespace

int run_launcher(void* instance) {
    launcher_steps steps(launcher_paths(), embedded_payload_contents);
    monotonic_clock clock;
    progress_pacer progress(progress_window(), clock);
    return run_startup(instance, launcher_paths(), embedded_payload_contents, steps, progress);
}
