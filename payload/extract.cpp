#include "payload/extract.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>

#include <minizip/unzip.h>

#include "base/durable.hpp"
#include "base/errors.hpp"
#include "base/exce.hpp"
#include "base/fs.hpp"
#include "payload/archive_file.hpp"
#include "payload/directory_memo.hpp"
#include "payload/entry_names.hpp"
#include "payload/install.hpp"
#include "payload/output_buffer.hpp"
#include "payload/payload.hpp"
#include "payload/stream_error.hpp"

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

const std::string loading_text = "Loading...";

// The bar's fraction after entry `index` of `count`, as it has always been:
// the first entry leaves it at 0 and the last short of 1.
float fraction_after(std::uint32_t index, std::uint32_t count) {
    return static_cast<float>(index) / static_cast<float>(count);
}

// One entry's copy as the window sees it: every block ticks the pacer, and a
// large entry moves the bar by its bytes, between where the bar stood when
// the entry began and where it will stand after it.
class entry_progress {
public:
    entry_progress(progress_pacer& pacer, float start, float end, std::uint64_t size)
        : pacer_(pacer), start_(start), end_(end), size_(size),
          by_bytes_(size >= byte_progress_min_size) {}

    void copied(std::size_t bytes) {
        done_ += bytes;
        if (by_bytes_)
            pacer_.tick(loading_text, entry_progress_fraction(start_, end_, done_, size_));
        else
            pacer_.tick();
    }

private:
    progress_pacer& pacer_;
    float start_, end_;
    std::uint64_t size_;
    bool by_bytes_;
    std::uint64_t done_ = 0;
};

// How much of a long file is written between two head starts of its flush:
// the disk then writes it while the rest is unpacked, where otherwise the
// system would hold gigabytes for the final wait.
constexpr std::uint64_t head_start_bytes = 32 * 1024 * 1024;

// Opens `destination`, copies the current (open) entry into it and closes it;
// a read, write or close failure throws, naming the entry.
void copy_entry(unzFile archive, const std::string& name, const std::string& destination,
                std::ofstream& out, char (&buffer)[copy_buffer_size], entry_progress& progress,
                written_files& to_flush) {
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
    std::uint64_t since_head_start = 0;
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
        progress.copied(static_cast<std::size_t>(got));
        since_head_start += static_cast<std::uint64_t>(got);
        if (since_head_start >= head_start_bytes) {
            to_flush.writing(destination);
            since_head_start = 0;
        }
    }
    errno = 0;
    out.close();
    // A full disk may only show when the last buffered bytes go out.
    if (!out) throw write_failed();
}

// What one unpacking keeps from entry to entry.
struct unpacking {
    const path_set& paths;
    std::ofstream& out;
    written_files& to_flush;  // every file written, put on the disk before the stamp
    unzFile archive;
    std::string executable_entry;       // empty: the executable is not below the data directory
    std::string unfinished_executable;  // where its entry goes until the end
    bool executable_unpacked = false;
    file_record executable_record{};  // its entry's part, the file's once it is in place
    file_records records;  // of the files written, by entry key
    directory_memo directories;
    char name_buffer[name_buffer_size];
    char copy_buffer[copy_buffer_size];
};

// The current entry as its header in the central directory describes it.
struct entry_header {
    std::string name;
    std::uint64_t unpacked_size;
    std::uint32_t crc32;
};

// The current entry's name, checked before anything is made for it, and size.
entry_header read_entry_header(unpacking& run) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(run.archive, &info, run.name_buffer, sizeof run.name_buffer,
                                nullptr, 0, nullptr, 0) != UNZ_OK)
        throw exce("could not read file info");
    // A name that fills the whole buffer comes without its NUL.
    if (info.size_filename >= name_buffer_size)
        throw exce("refused an archive entry whose name is longer than 511 bytes");
    const std::string name(run.name_buffer, strnlen(run.name_buffer, sizeof run.name_buffer));
    check_entry_name(name);
    return {name, static_cast<std::uint64_t>(info.uncompressed_size),
            static_cast<std::uint32_t>(info.crc)};
}

// The record of a file just written from `entry`, as the file stands now;
// nothing when it cannot be examined (then the next update rewrites it).
void remember_file(file_records& written, const std::string& destination,
                   const file_record& from_entry, const std::string& name) {
    const std::optional<file_facts> facts = regular_file_facts(destination);
    if (!facts) {
        written.erase(entry_key(name));
        return;
    }
    written[entry_key(name)] = {from_entry.entry_size, from_entry.crc32, facts->size, facts->modified};
}

// A file entry: its folders, then its bytes. The executable's goes to its
// unfinished name, so that it appears only when everything else is there.
void unpack_file_entry(unpacking& run, const entry_header& entry, entry_progress& progress) {
    const std::string& name = entry.name;
    if (unzOpenCurrentFile(run.archive) != UNZ_OK) throw exce("could not open file");
    const bool executable =
        !run.executable_entry.empty() && same_entry_file(name, run.executable_entry);
    const std::string destination = executable ? run.unfinished_executable : run.paths.data_dir + name;
    create_parent_directories(destination, run.directories);
    copy_entry(run.archive, name, destination, run.out, run.copy_buffer, progress, run.to_flush);
    const file_record from_entry{entry.unpacked_size, entry.crc32, 0, 0};
    if (executable) {
        run.executable_record = from_entry;
        // Known only once it is in its place (place_executable).
        run.records.erase(entry_key(name));
    } else {
        run.to_flush.wrote(destination);
        remember_file(run.records, destination, from_entry, name);
    }
    run.executable_unpacked = run.executable_unpacked || executable;
}

// A directory entry: made with its parents, unless it is there already.
void unpack_directory_entry(unpacking& run, const std::string& name) {
    const std::string destination = run.paths.data_dir + name;
    if (path_exists(destination)) return;
    create_parent_directories(destination, run.directories);
    create_directory_path(destination);
}

// Closes the current entry. The reader gives its CRC verdict here; a
// directory entry has nothing open, and the reader's complaint about that
// means nothing.
void finish_entry(unpacking& run, const std::string& name, bool directory) {
    const int closed = unzCloseCurrentFile(run.archive);
    if (directory || closed == UNZ_OK) return;
    throw exce(closed == UNZ_CRCERROR ? "archive entry " + quoted(name) + " is damaged: CRC mismatch"
                                      : "could not finish archive entry " + quoted(name) +
                                            ": error " + std::to_string(closed));
}

// Only now does the executable appear: a start that finds it knows the last
// unpacking went through to the end of the archive.
void place_executable(const unpacking& run) {
    if (!run.executable_unpacked) return;
    make_runnable(run.unfinished_executable);
    try {
        rename_path(run.unfinished_executable, run.paths.exe_path);
    } catch (const file_system_error&) {
        if (file_in_use(run.paths.exe_path)) throw exce(in_use_message(run.paths.exe_path));
        throw;
    }
    run.to_flush.wrote(run.paths.exe_path);
}

// The executable's record, taken after its rename: the file the next update finds.
void remember_executable(unpacking& run) {
    if (run.executable_unpacked)
        remember_file(run.records, run.paths.exe_path, run.executable_record, run.executable_entry);
}

}  // namespace

std::string unfinished_executable_path(const path_set& paths) {
    return paths.exe_path + ".unpacking";
}

float entry_progress_fraction(float start, float end, std::uint64_t done, std::uint64_t size) {
    if (size == 0 || done >= size) return end;
    const double share = static_cast<double>(done) / static_cast<double>(size);
    const auto fraction = static_cast<float>(start + (static_cast<double>(end) - start) * share);
    // Rounding may not take the bar past either end.
    return std::min(std::max(fraction, start), end);
}

file_records extract_archive(const path_set& paths, const archive_region& region,
                             after_unpacking then, std::ofstream& out, progress_pacer& pacer,
                             written_files& written, const std::vector<bool>& unchanged) {
    create_directory_path(paths.data_dir);
    use_output_buffer(out);

    archive_handle archive(open_archive_region(region));
    unz_global_info global;
    if (unzGetGlobalInfo(archive.get(), &global) != UNZ_OK)
        throw exce("could not read file global info");
    const auto count = static_cast<std::uint32_t>(global.number_entry);

    unpacking run{paths, out, written, archive.get(), executable_entry_name(paths),
                  unfinished_executable_path(paths)};
    for (std::uint32_t i = 0; i < count;) {
        const entry_header entry = read_entry_header(run);
        const std::string& name = entry.name;
        const bool directory = name.back() == '/';
        // The bar stands at 0 before the first entry, then where the last one left it.
        const float start = i == 0 ? 0.0f : fraction_after(i - 1, count);
        entry_progress progress(pacer, start, fraction_after(i, count), entry.unpacked_size);
        // An unchanged file is neither opened nor read: the reader moves on
        // to the next header without decompressing a byte.
        const bool skipped = !directory && i < unchanged.size() && unchanged[i];
        if (directory)
            unpack_directory_entry(run, name);
        else if (!skipped)
            unpack_file_entry(run, entry, progress);
        pacer.set_progress(loading_text, fraction_after(i, count));
        if (!skipped) finish_entry(run, name, directory);
        if (++i < count && unzGoToNextFile(archive.get()) != UNZ_OK)
            throw exce("could not read next file");
    }
    place_executable(run);
    remember_executable(run);
    // Every file on the disk before the stamp can say so; the window still
    // answers through the wait.
    written.flush_all(pacer);

    pacer.destroy_window();
    archive.close();
    if (then == after_unpacking::remove_file) remove_path(to_narrow(region.file));
    return std::move(run.records);
}
