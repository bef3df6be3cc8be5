// base/: putting what the launcher wrote on stable storage before the stamp
// says it is there.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/progress_pacer.hpp"

// A file's data reaches the disk some time after its last write: the file
// system's metadata (names, sizes, a rename) may get there first. Without
// asking, a power cut can leave the stamp renamed into place over files that
// are still empty or short, and the next start takes them for a finished
// install. These calls ask, and return once the system says it is done.

// How the platform puts one written file's data on stable storage.
class disk_flush {
public:
    virtual ~disk_flush() = default;
    // Told just after `path` was written and closed: may start writing its
    // data out without waiting for it, so that the final wait is short.
    virtual void begin(const std::string& path) = 0;
    // Returns once the data of `path` is on stable storage; calls `between`
    // between the pieces of a long wait, so that a window can keep answering.
    // Throws file_system_error ("flush") naming the path.
    virtual void finish(const std::string& path, const std::function<void()>& between) = 0;
};

// The platform's way (in a build without LAUNCHER_FLUSH_TO_DISK, one that
// does nothing).
disk_flush& platform_disk_flush();

// The files one unpacking or update wrote, each put on stable storage before
// the stamp that names the archive is written.
class written_files {
public:
    explicit written_files(disk_flush& flush = platform_disk_flush());
    written_files(const written_files&) = delete;
    written_files& operator=(const written_files&) = delete;

    // `path` was written and closed, under the name it keeps.
    void wrote(const std::string& path);
    // Waits until every file told of is on stable storage, ticking `pacer`
    // after each and within long waits; then forgets them.
    void flush_all(progress_pacer& pacer);
    // Files told of and not flushed yet.
    std::size_t pending() const { return paths_.size(); }

private:
    disk_flush& flush_;
    std::vector<std::string> paths_;
};

// Puts one file's data and size on stable storage (the stamp's temporary
// before its rename). Throws file_system_error ("flush").
void flush_file(const std::string& path);

// Renames `from` over `to`, replacing a file there, and returns once the
// rename itself is on stable storage: on Linux the folder is flushed after
// it; on Windows the move is written through. Throws file_system_error
// ("rename", or "flush" for the folder).
void rename_durably(const std::string& from, const std::string& to);
