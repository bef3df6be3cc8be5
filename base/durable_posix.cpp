// Linux: a file's data is started on its way to the disk as soon as the file
// is closed (sync_file_range), so that by the end of the unpacking most of it
// is there. The final flush first waits for each file's remaining data in
// pieces, the window answering between them, then asks the volume for
// everything at once with one syncfs: a single journal commit and cache flush
// where an fdatasync per file would cost one each (seconds for thousands of
// small files). By then the launcher's own data is written, so the syncfs
// only waits for the commit and whatever else the volume had pending.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "base/durable.hpp"
#include "base/errors.hpp"
#include "base/fs.hpp"

namespace fs = std::filesystem;

namespace {

// Closes the descriptor on every way out.
class file_descriptor {
public:
    explicit file_descriptor(int fd) : fd_(fd) {}
    ~file_descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    file_descriptor(file_descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    file_descriptor(const file_descriptor&) = delete;
    file_descriptor& operator=(const file_descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

[[noreturn]] void fail(const char* operation, const std::string& narrow) {
    throw file_system_error(operation, narrow, to_fs_path(narrow),
                            std::error_code(errno, std::generic_category()));
}

// Reading is enough: fsync and sync_file_range act on the file, not on how
// the descriptor was opened, and a read-only open never changes the file.
file_descriptor open_to_flush(const std::string& narrow, int flags = 0) {
    file_descriptor fd(open(narrow.c_str(), O_RDONLY | O_CLOEXEC | flags));
    if (!fd.valid()) fail("flush", narrow);
    return fd;
}

// A wait for this much written data takes a fraction of a second on a disk,
// so the window answers between pieces.
constexpr off_t wait_piece = 32 * 1024 * 1024;

class posix_disk_flush final : public disk_flush {
public:
    void begin(const std::string& path) override {
        // Only a head start: a failure here shows again in finish().
        const file_descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.valid()) sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }

    void finish(const std::string& path, const std::function<void()>& between) override {
        const file_descriptor fd = open_to_flush(path);
        struct stat facts {};
        if (fstat(fd.get(), &facts) != 0) fail("flush", path);
        for (off_t offset = 0; offset < facts.st_size; offset += wait_piece) {
            if (sync_file_range(fd.get(), offset, wait_piece,
                                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                    SYNC_FILE_RANGE_WAIT_AFTER) != 0)
                fail("flush", path);
            between();
        }
    }

    // The guarantee itself: syncfs writes and waits for every file of the
    // volume, commits its journal and flushes the disk's cache. One call per
    // volume the files are on (a folder mounted inside the data directory).
    void complete(const std::vector<std::string>& paths) override {
        std::vector<std::pair<dev_t, std::string>> volumes;
        for (const std::string& path : paths) {
            struct stat facts {};
            if (stat(path.c_str(), &facts) != 0) fail("flush", path);
            bool known = false;
            for (const auto& volume : volumes) known = known || volume.first == facts.st_dev;
            if (!known) volumes.emplace_back(facts.st_dev, path);
        }
        for (const auto& volume : volumes) {
            const file_descriptor fd = open_to_flush(volume.second);
            if (syncfs(fd.get()) != 0) fail("flush", volume.second);
        }
    }
};

void flush_descriptor(const std::string& narrow, int flags) {
    const file_descriptor fd = open_to_flush(narrow, flags);
    if (fsync(fd.get()) != 0) fail("flush", narrow);
}

}  // namespace

disk_flush& platform_disk_flush() {
    static posix_disk_flush flush;
    return flush;
}

void flush_file(const std::string& path) { flush_descriptor(path, 0); }

void rename_durably(const std::string& from, const std::string& to) {
    rename_path(from, to);
    // The new name lives in the folder's own data: flushed, the rename holds.
    const fs::path folder = to_fs_path(to).parent_path();
    flush_descriptor(folder.empty() ? std::string(".") : to_narrow(folder), O_DIRECTORY);
}
