// app/: the start-up sequence, its roads and the one failure boundary.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "base/paths.hpp"
#include "base/progress_pacer.hpp"
#include "payload/contents.hpp"
#include "payload/install.hpp"

// What the start-up sequence calls besides the file system and the progress
// window. The launcher wires these to the payload, the launch and the lock;
// tests wire them to fakes that record what happened.
class startup_steps {
public:
    virtual ~startup_steps() = default;
    // Fails, before anything changes, when the archive cannot be read where
    // the launcher carries it (its own file cut short, or never given it).
    virtual void check_archive() = 0;
    // The image home only: the chunks out to the temporary archive.
    virtual void write_temp_archive(std::ofstream& out, progress_pacer& progress) = 0;
    // Unpacks every entry but those `unchanged` marks (indexed like the
    // contents' entries); returns the records of the files it wrote.
    virtual file_records extract_archive(std::ofstream& out, const std::vector<bool>& unchanged,
                                         progress_pacer& progress) = 0;
    virtual void launch() = 0;
    // Waits until no other launcher unpacks into the same data directory,
    // then holds that until unlock_install.
    virtual void lock_install() = 0;
    virtual void unlock_install() = 0;
    // Bytes free for the launcher on the working directory's volume.
    virtual std::uint64_t free_space() = 0;
    // The unit that volume gives files their space in.
    virtual std::uint64_t allocation_unit() = 0;
    // The "app throw" message box.
    virtual void show_error(const std::string& text) = 0;
};

// The whole run, and the one boundary where failures are shown. The road is
// chosen by what the data directory holds:
//   installed  the game's executable and a stamp of this archive: launch at once;
//   update     the executable without such a stamp: unpack over the old game,
//              removing only what the old stamp lists and this archive lacks,
//              and writing only the entries that differ from what the old
//              stamp recorded (or whose files changed since);
//   unpacking  no executable: remove what a stamp lists (or, without one, the
//              whole data directory), then unpack.
// Both unpack alike from either home of the archive; only the image home
// writes the temporary archive first (and needs the room for it).
// The last two run under the install lock, and the road is chosen again once
// it is held: a launcher that waited usually finds the game installed.
// The window is kept answering through every long step by `progress`.
// Returns 0 after success and 1 after a reported failure.
int run_startup(void* instance, const path_set& paths, const payload_contents& contents,
                startup_steps& steps, progress_pacer& progress);
