// Windows: the stream that wrote a file hides its handle, so each written
// file is opened again for writing and its buffers flushed through that
// handle, which writes the file's cached data and metadata to the disk.
#include "base/durable.hpp"
#include "base/errors.hpp"
#include "base/fs.hpp"

#include <windows.h>

namespace fs = std::filesystem;

namespace {

// Closes the handle on every way out.
class file_handle {
public:
    explicit file_handle(HANDLE handle) : handle_(handle) {}
    ~file_handle() {
        if (valid()) CloseHandle(handle_);
    }
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

[[noreturn]] void fail(const char* operation, const std::string& narrow) {
    const std::error_code ec(static_cast<int>(GetLastError()), std::system_category());
    throw file_system_error(operation, narrow, to_fs_path(narrow), ec);
}

// FlushFileBuffers wants a handle with write access; sharing everything
// keeps out of the way of whoever else has the file open.
void flush_path(const std::string& narrow, DWORD flags) {
    const std::wstring wide = to_fs_path(narrow).native();
    const file_handle file(CreateFileW(wide.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, flags, nullptr));
    if (!file.valid() || !FlushFileBuffers(file.get())) fail("flush", narrow);
}

// One FlushFileBuffers waits for the file's data and the disk's cache, and
// offers no head start: the waits run on threads of their own beside the
// unpacking, several at once, so that the file system can serve them together.
class win32_disk_flush final : public disk_flush {
public:
    void begin(const std::string&) override {}
    void finish(const std::string& path, const std::function<void()>&) override {
        flush_path(path, FILE_ATTRIBUTE_NORMAL);
    }
    unsigned background_threads() const override { return 4; }
};

}  // namespace

disk_flush& platform_disk_flush() {
    static win32_disk_flush flush;
    return flush;
}

void flush_file(const std::string& path) { flush_path(path, FILE_ATTRIBUTE_NORMAL); }

void rename_durably(const std::string& from, const std::string& to) {
    const std::wstring source = to_fs_path(from).native();
    const std::wstring target = to_fs_path(to).native();
    // Written through: the call returns once the move is on the disk.
    if (!MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail("rename", to);
    // The folder's buffers too, for the file systems that do not write a
    // move through (wine passes the flush on to the host's file system). A
    // system that cannot flush a folder has already written the move.
    const fs::path folder = to_fs_path(to).parent_path();
    const std::wstring wide = folder.empty() ? std::wstring(L".") : folder.native();
    const file_handle handle(CreateFileW(wide.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle.valid()) FlushFileBuffers(handle.get());
}
