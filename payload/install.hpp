#pragma once

// What the data directory holds of the launcher's, told apart from the
// player's own files: the stamp, written last by a finished unpacking, names
// the archive it came from and every file and directory that archive put
// there. Anything it does not list is never the launcher's to delete.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/paths.hpp"
#include "base/progress_pacer.hpp"
#include "payload/contents.hpp"

// The identity a stamp carries while an unpacking is under way: it matches no
// archive, so an install marked so is never taken for a current one.
constexpr const char* unfinished_identity = "unfinished";

struct install_stamp {
    std::string identity;
    std::vector<std::string> files;        // relative to the data directory, "/" between elements
    std::vector<std::string> directories;  // the same, each ending in "/", outermost first
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

// The message for a file that a running game holds.
std::string in_use_message(const std::string& path);
