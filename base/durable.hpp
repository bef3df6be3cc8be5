// base/: putting what the launcher wrote on stable storage before the stamp
// says it is there.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
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
    // Told just after `path` was written and closed, and now and then while a
    // long file is written: may start writing its data out without waiting
    // for it, so that the final wait is short.
    virtual void begin(const std::string& path) = 0;
    // Returns once the data of `path` is on stable storage; calls `between`
    // between the pieces of a long wait, so that a window can keep answering.
    // Throws file_system_error ("flush") naming the path. May run on a
    // thread of its own (see background_threads), several at once.
    virtual void finish(const std::string& path, const std::function<void()>& between) = 0;
    // How many threads wait for files while the unpacking goes on: where one
    // flush waits for the disk and no head start exists, the waits then
    // overlap the unpacking and each other. 0: every wait at the end.
    virtual unsigned background_threads() const { return 0; }
    // Once every file's finish() has returned: whatever the platform still
    // owes to make all of `paths` stable at once (on Linux one syncfs per
    // volume, after the waits above have let the window answer through the
    // data's writing). Throws file_system_error ("flush").
    virtual void complete(const std::vector<std::string>& paths) { (void)paths; }
};

// The platform's way (in a build without LAUNCHER_FLUSH_TO_DISK, one that
// does nothing).
disk_flush& platform_disk_flush();

// The files one unpacking or update wrote, each put on stable storage before
// the stamp that names the archive is written. With background threads, a
// file is waited for as soon as it is told of; the threads end with the object.
class written_files {
public:
    explicit written_files(disk_flush& flush = platform_disk_flush());
    ~written_files();
    written_files(const written_files&) = delete;
    written_files& operator=(const written_files&) = delete;

    // `path` is being written and has grown by some tens of MB since it was
    // last told of: what it holds so far may start on its way to the disk, so
    // that a long file is not all still to write when the flush waits for it.
    void writing(const std::string& path);
    // `path` was written and closed, under the name it keeps.
    void wrote(const std::string& path);
    // Waits until every file told of is on stable storage, ticking `pacer`
    // after each and within long waits; then forgets them. Throws the first
    // failure of any file's flush.
    void flush_all(progress_pacer& pacer);
    // Files told of and not flushed yet.
    std::size_t pending() const;

private:
    struct background;
    void complete();
    disk_flush& flush_;
    std::vector<std::string> paths_;    // waited for in flush_all
    std::vector<std::string> written_;  // every file told of since the last flush_all
    std::unique_ptr<background> background_;
};

// Puts one file's data and size on stable storage (the stamp's temporary
// before its rename). Throws file_system_error ("flush").
void flush_file(const std::string& path);

// Renames `from` over `to`, replacing a file there, and returns once the
// rename itself is on stable storage: on Linux the folder is flushed after
// it; on Windows the move is written through. Throws file_system_error
// ("rename", or "flush" for the folder).
void rename_durably(const std::string& from, const std::string& to);
