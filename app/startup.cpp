#include "app/startup.hpp"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/fs.hpp"
#include "base/instance.hpp"
#include "payload/entry_names.hpp"
#include "payload/extract.hpp"
#include "payload/install.hpp"
#include "payload/space.hpp"

namespace {

bool install_is_current(const path_set& paths, const payload_contents& contents) {
    return path_exists(paths.exe_path) && stamp_is_current(paths, contents.identity);
}

// Holds the install lock for one scope, through the steps, so that an error
// leaving the scope releases it too.
class install_lock_scope {
public:
    explicit install_lock_scope(startup_steps& steps) : steps_(steps) { steps_.lock_install(); }
    ~install_lock_scope() { steps_.unlock_install(); }
    install_lock_scope(const install_lock_scope&) = delete;
    install_lock_scope& operator=(const install_lock_scope&) = delete;

private:
    startup_steps& steps_;
};

// What earlier runs may have left of the launcher's own besides the stamp.
void remove_leftovers(const path_set& paths) {
    if (path_exists(paths.temp_archive_path)) remove_path(paths.temp_archive_path);
    remove_path(unfinished_executable_path(paths));
    remove_path(stamp_temp_path(paths));
}

// The update and unpacking roads. On disk everything changes in one
// direction: first the stamp stops vouching for the old game (an unfinished
// stamp that lists the old entries and the new, and vouches only for the
// files the update will not touch), then the files change, then the
// executable appears, and last the stamp names this archive.
void unpack(void* instance, const path_set& paths, const payload_contents& contents,
            startup_steps& steps, progress_pacer& progress) {
    const bool updating = path_exists(paths.exe_path);
    const std::optional<install_stamp> old_stamp = read_stamp(paths);
    install_stamp new_stamp = stamp_of(contents, contents.identity);

    // A launcher that cannot read its own archive says so before anything changes.
    steps.check_archive();
    const std::string loading = "Loading...";
    progress.show_window(instance, "", loading);
    progress.set_progress(loading, 0.0f);
    // Which entries the update leaves alone, decided once, before anything is
    // written: the space check, the unfinished stamp and the unpacking all go
    // by it. It looks at every recorded file, with the window answering.
    const std::vector<bool> unchanged =
        updating && old_stamp
            ? unchanged_entries(*old_stamp, contents,
                                [&paths, &progress](const std::string& name) {
                                    progress.tick();
                                    return regular_file_facts(paths.data_dir + name);
                                })
            : std::vector<bool>{};
    // Before anything is written: a refusal leaves the folder as it was. Over
    // a big game's install the check looks at thousands of files, so the
    // window is up (and answering) first. The entries `unchanged` marks need
    // no room: they are not written.
    check_space(space_needed(measure_unpacking(paths, contents, old_stamp, updating, unchanged,
                                               steps.allocation_unit(), progress)),
                steps.free_space());
    if (updating) {
        write_stamp(paths, unfinished_update_stamp(old_stamp.value_or(install_stamp{}), new_stamp,
                                                   contents, unchanged));
    } else if (old_stamp) {
        remove_listed(paths, *old_stamp, install_stamp{}, progress);
    } else if (path_exists(paths.data_dir)) {
        remove_all_path(paths.data_dir, [&progress] { progress.tick(); });
    }
    if (path_exists(paths.data_dir)) remove_leftovers(paths);
    else if (path_exists(paths.temp_archive_path)) remove_path(paths.temp_archive_path);

    std::ofstream out;  // one stream for the archive and every unpacked file
    if (contents.home == payload_home::image) steps.write_temp_archive(out, progress);
    if (updating) {
        if (old_stamp) remove_listed(paths, *old_stamp, new_stamp, progress);
    } else {
        create_directory_path(paths.data_dir);
        write_stamp(paths, stamp_of(contents, unfinished_identity));
    }
    new_stamp.records = steps.extract_archive(out, unchanged, progress);
    if (old_stamp) {
        for (const auto& kept : kept_records(*old_stamp, contents, unchanged))
            new_stamp.records.insert(kept);
    }
    write_stamp(paths, new_stamp);
}

}  // namespace

int run_startup(void* instance, const path_set& paths, const payload_contents& contents,
                startup_steps& steps, progress_pacer& progress) {
    store_instance(instance);
    try {
        if (!install_is_current(paths, contents)) {
            install_lock_scope lock(steps);
            if (!install_is_current(paths, contents))
                unpack(instance, paths, contents, steps, progress);
        }
        steps.launch();
        return 0;
    } catch (const std::exception& error) {
        progress.destroy_window();
        steps.show_error(error.what());
        return 1;
    }
}
