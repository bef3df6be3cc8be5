#include "payload/extract.hpp"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <minizip/unzip.h>

#include "base/errors.hpp"
#include "base/exce.hpp"
#include "base/fs.hpp"
#include "payload/archive_file.hpp"
#include "payload/directory_memo.hpp"
#include "payload/install.hpp"
#include "payload/output_buffer.hpp"
#include "payload/payload.hpp"
#include "payload/stream_error.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t name_buffer_size = 512;
constexpr unsigned copy_buffer_size = 8192;

// Closes the archive (and an entry still open in it) on every way out.
class archive_handle {
public:
    explicit archive_handle(unzFile handle) : handle_(handle) {}
    ~archive_handle() { close(); }
    archive_handle(const archive_handle&) = delete;
    archive_handle& operator=(const archive_handle&) = delete;

    unzFile get() const { return handle_; }
    void close() {
        if (handle_) unzClose(handle_);
        handle_ = nullptr;
    }

private:
    unzFile handle_;
};

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

#ifndef _WIN32
// The archive carries no modes; on POSIX the game's executable must be
// runnable by whoever may read it.
void make_executable(const std::string& path) {
    const fs::path target = to_fs_path(path);
    std::error_code ec;
    const fs::perms mode = fs::status(target, ec).permissions();
    fs::perms exec = fs::perms::none;
    if ((mode & fs::perms::owner_read) != fs::perms::none) exec |= fs::perms::owner_exec;
    if ((mode & fs::perms::group_read) != fs::perms::none) exec |= fs::perms::group_exec;
    if ((mode & fs::perms::others_read) != fs::perms::none) exec |= fs::perms::others_exec;
    if (!ec) fs::permissions(target, exec, fs::perm_options::add, ec);
    if (ec) throw file_system_error("permissions", path, target, ec);
}
#endif

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool is_path_separator(char c) {
#ifdef _WIN32
    return is_separator(c);
#else
    return c == '/';
#endif
}

// The elements that name a file, "." and empty ones left out.
std::vector<std::string> file_elements(const std::string& name) {
    std::vector<std::string> elements;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = start;
        while (end < name.size() && !is_path_separator(name[end])) ++end;
        std::string element = name.substr(start, end - start);
#ifdef _WIN32
        for (char& c : element) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
        if (!element.empty() && element != ".") elements.push_back(element);
        start = end + 1;
    }
    return elements;
}

bool is_parent_element(const std::string& element) {
    if (element == "..") return true;
#ifdef _WIN32
    // Windows drops trailing dots and spaces from a name, so ".. " may be
    // "..": any element of dots and spaces that starts with ".." is refused.
    if (element.compare(0, 2, "..") != 0) return false;
    for (char c : element)
        if (c != '.' && c != ' ') return false;
    return true;
#else
    return false;
#endif
}

// Opens `destination`, copies the current (open) entry into it and closes it;
// a read, write or close failure throws, naming the entry.
void copy_entry(unzFile archive, const std::string& name, const std::string& destination,
                std::ofstream& out, char (&buffer)[copy_buffer_size]) {
    out.open(destination, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out.is_open()) {
        unzCloseCurrentFile(archive);
        // An update over a game that is still running: say so, not just "could not".
        if (file_in_use(destination)) throw exce(in_use_message(destination));
        throw exce("could not open destination file");
    }
    stream_closer closer(out);
    const auto write_failed = [&] {
        return exce("could not write entry " + quoted(name) + " to " + quoted(destination) +
                    stream_failure_reason());
    };
    for (;;) {
        const int got = unzReadCurrentFile(archive, buffer, copy_buffer_size);
        if (got == 0) break;
        if (got < 0) {
            unzCloseCurrentFile(archive);
            throw exce("error " + std::to_string(got));
        }
        errno = 0;
        write_buffered(out, buffer, static_cast<std::size_t>(got));
        if (!out) throw write_failed();
    }
    errno = 0;
    out.close();
    // A full disk may only show when the last buffered bytes go out.
    if (!out) throw write_failed();
}

}  // namespace

void check_entry_name(const std::string& name) {
    if (name.empty()) throw exce("refused an archive entry with an empty name");
    const bool absolute = is_separator(name[0]);
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       std::isalpha(static_cast<unsigned char>(name[0]));
    bool parent = false;
    for (std::size_t start = 0; start <= name.size() && !parent;) {
        std::size_t end = start;
        while (end < name.size() && !is_separator(name[end])) ++end;
        parent = is_parent_element(name.substr(start, end - start));
        start = end + 1;
    }
    if (absolute || drive || parent)
        throw exce("refused archive entry " + quoted(name) +
                   ": it would be written outside the data directory");
}

std::string executable_entry_name(const path_set& paths) {
    if (paths.exe_path.compare(0, paths.data_dir.size(), paths.data_dir) != 0) return {};
    std::string name = paths.exe_path.substr(paths.data_dir.size());
    if (name.compare(0, 2, "./") == 0) name.erase(0, 2);
    return name;
}

bool same_entry_file(const std::string& name, const std::string& other) {
    return file_elements(name) == file_elements(other);
}

std::string entry_key(const std::string& name) {
    std::string key;
    for (const std::string& element : file_elements(name)) key += (key.empty() ? "" : "/") + element;
    return key;
}

std::string unfinished_executable_path(const path_set& paths) {
    return paths.exe_path + ".unpacking";
}

void extract_archive(const path_set& paths, std::ofstream& out, progress_display& progress) {
    create_directory_path(paths.data_dir);
    use_output_buffer(out);

    archive_handle archive(open_archive_file(paths.temp_archive_path));
    unz_global_info global;
    if (unzGetGlobalInfo(archive.get(), &global) != UNZ_OK)
        throw exce("could not read file global info");
    const auto count = static_cast<std::uint32_t>(global.number_entry);

    const std::string executable_entry = executable_entry_name(paths);
    const std::string unfinished_executable = unfinished_executable_path(paths);
    bool executable_unpacked = false;
    directory_memo directories;

    char name_buffer[name_buffer_size];
    char copy_buffer[copy_buffer_size];
    for (std::uint32_t i = 0; i < count;) {
        unz_file_info info;
        if (unzGetCurrentFileInfo(archive.get(), &info, name_buffer, sizeof name_buffer, nullptr,
                                  0, nullptr, 0) != UNZ_OK)
            throw exce("could not read file info");
        // A name that fills the whole buffer comes without its NUL.
        if (info.size_filename >= name_buffer_size)
            throw exce("refused an archive entry whose name is longer than 511 bytes");
        const std::string name(name_buffer, strnlen(name_buffer, sizeof name_buffer));
        check_entry_name(name);

        if (name.back() != '/') {
            if (unzOpenCurrentFile(archive.get()) != UNZ_OK) throw exce("could not open file");
            const bool executable =
                !executable_entry.empty() && same_entry_file(name, executable_entry);
            const std::string destination =
                executable ? unfinished_executable : paths.data_dir + name;
            create_parent_directories(destination, directories);
            copy_entry(archive.get(), name, destination, out, copy_buffer);
            executable_unpacked = executable_unpacked || executable;
        } else {
            const std::string destination = paths.data_dir + name;
            if (!path_exists(destination)) {
                create_parent_directories(destination, directories);
                create_directory_path(destination);
            }
        }

        progress.set_progress("Loading...", static_cast<float>(i) / static_cast<float>(count));

        // The reader gives its CRC verdict here. A directory entry has nothing
        // open, and the reader's complaint about that means nothing.
        const int closed = unzCloseCurrentFile(archive.get());
        if (name.back() != '/' && closed != UNZ_OK)
            throw exce(closed == UNZ_CRCERROR
                           ? "archive entry " + quoted(name) + " is damaged: CRC mismatch"
                           : "could not finish archive entry " + quoted(name) + ": error " +
                                 std::to_string(closed));

        if (++i < count && unzGoToNextFile(archive.get()) != UNZ_OK)
            throw exce("could not read next file");
    }

    // Only now does the executable appear: a start that finds it knows the
    // last unpacking went through to the end.
    if (executable_unpacked) {
#ifndef _WIN32
        make_executable(unfinished_executable);
#endif
        try {
            rename_path(unfinished_executable, paths.exe_path);
        } catch (const file_system_error&) {
            if (file_in_use(paths.exe_path)) throw exce(in_use_message(paths.exe_path));
            throw;
        }
    }

    progress.destroy_window();
    archive.close();
    remove_path(paths.temp_archive_path);
}
