#pragma once

// What the data directory holds of the launcher's, told apart from the
// player's own files: the stamp, written last by a finished unpacking, names
// the archive it came from and every file and directory that archive put
// there. Anything it does not list is never the launcher's to delete.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/fs.hpp"
#include "base/paths.hpp"
#include "base/progress_pacer.hpp"
#include "payload/contents.hpp"

// The identity a stamp carries while an unpacking is under way: it matches no
// archive, so an install marked so is never taken for a current one.
constexpr const char* unfinished_identity = "unfinished";

// What an unpacking knew of one file it wrote: the entry it came from and
// the file as it stood on disk right after it was closed (for the executable,
// after its late rename). An update that finds the same entry and the file
// still so leaves it alone.
struct file_record {
    std::uint64_t entry_size;  // unpacked bytes
    std::uint32_t crc32;       // of those bytes, from the central directory
    std::uint64_t disk_size;
    std::int64_t modified;     // file_facts::modified
    bool operator==(const file_record& other) const {
        return entry_size == other.entry_size && crc32 == other.crc32 &&
               disk_size == other.disk_size && modified == other.modified;
    }
};

// Records by entry_key of the file's name.
using file_records = std::unordered_map<std::string, file_record>;

struct install_stamp {
    std::string identity;
    std::vector<std::string> files;        // relative to the data directory, "/" between elements
    std::vector<std::string> directories;  // the same, each ending in "/", outermost first
    // Of the files listed, those whose record is known; a file without one
    // (a stamp of an older launcher, a file being rewritten) is rewritten.
    file_records records;
};

// The stamp listing every entry of `contents` and every directory above one.
install_stamp stamp_of(const payload_contents& contents, const std::string& identity);

// Everything either stamp lists, under `identity`.
install_stamp stamp_union(const install_stamp& a, const install_stamp& b,
                          const std::string& identity);

// Whether the stamp names `identity`; reads its first line only, so the
// installed road stays one small read.
bool stamp_is_current(const path_set& paths, const std::string& identity);

// The stamp as written; nothing when there is none. Lines that do not parse,
// and names that would reach outside the data directory, are left out.
std::optional<install_stamp> read_stamp(const path_set& paths);

// A stamp is a text file: "launcher-stamp IDENTITY", then "d NAME" per
// directory and "f NAME" per file, each file's record (when known) on the
// line right after it as "r ENTRY-SIZE CRC32-HEX8 DISK-SIZE MODIFIED".
// Launchers from before records skip the "r" lines; stamps from them read
// with no records.

// Writes the stamp under a temporary name, flushes it to stable storage, then
// renames it into place and waits for the rename to reach the disk, so a
// start never reads half a stamp, and whatever the caller does next happens
// after the stamp changed, power cut or not. Throws exce or file_system_error.
void write_stamp(const path_set& paths, const install_stamp& stamp);

// The most bytes write_stamp writes for `stamp`: its names at their longest
// escaped, with room beside each file for a record of what was written.
std::uint64_t stamp_size_bound(const install_stamp& stamp);

// The stamp's temporary name while it is written.
std::string stamp_temp_path(const path_set& paths);

// Removes the files `listed` names and `keep` does not, then the directories
// it names and `keep` does not, innermost first and only when empty: a
// directory that still holds a player's file stays. Ticks `pacer` after each
// name. Throws exce naming the file when a running game holds it,
// file_system_error otherwise.
void remove_listed(const path_set& paths, const install_stamp& listed, const install_stamp& keep,
                   progress_pacer& pacer);

// Which entries of `contents` (indexed like contents.entries) an update need
// not write: a file entry whose file the old stamp has a record of with the
// same unpacked size and CRC-32, and whose file `facts` (given the stamp's
// name of the file, relative to the data directory) still finds with the
// recorded size and time of last write. A name that two entries share is
// never unchanged: the archive writes it twice.
using facts_lookup = std::function<std::optional<file_facts>(const std::string& name)>;
std::vector<bool> unchanged_entries(const install_stamp& old_stamp,
                                    const payload_contents& contents, const facts_lookup& facts);

// The old stamp's records of the entries `unchanged` marks: what an update
// carries over, since it leaves those files as they are.
file_records kept_records(const install_stamp& old_stamp, const payload_contents& contents,
                          const std::vector<bool>& unchanged);

// The stamp an update writes before it changes anything: every file and
// directory of either stamp under the unfinished identity, with records of
// only the files it will not touch. A start after a kill part-way thus
// trusts exactly those, and never a file that was being written.
install_stamp unfinished_update_stamp(const install_stamp& old_stamp,
                                      const install_stamp& new_stamp,
                                      const payload_contents& contents,
                                      const std::vector<bool>& unchanged);

// The message for a file that a running game holds.
std::string in_use_message(const std::string& path);
