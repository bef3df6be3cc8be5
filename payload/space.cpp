#include "payload/space.hpp"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "base/exce.hpp"
#include "base/fs.hpp"
#include "payload/entry_names.hpp"
#include "payload/extract.hpp"

namespace {

// An empty file takes no unit; any other byte count takes whole ones.
std::uint64_t whole_units(std::uint64_t bytes, std::uint64_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

std::uint64_t allocated(const std::string& path) {
    const std::optional<file_facts> facts = regular_file_facts(path);
    return facts ? facts->allocated : 0;
}

}  // namespace

std::uint64_t space_needed(const unpacking_space& space) {
    const std::uint64_t unit = std::max<std::uint64_t>(space.unit, 1);
    // The level of the volume against today's, through the road; sizes of
    // one game stay far below the signed range.
    std::int64_t level = 0;
    for (const std::uint64_t stamp : space.stamps)
        level += static_cast<std::int64_t>(whole_units(stamp, unit));
    // An update marks the install unfinished before it removes anything.
    std::int64_t peak = space.stamps_first ? level : 0;
    level -= static_cast<std::int64_t>(space.freed_first);
    level += static_cast<std::int64_t>(whole_units(space.temp_archive, unit));
    peak = std::max(peak, level);
    level -= static_cast<std::int64_t>(space.freed_before_extraction);
    level += static_cast<std::int64_t>(space.directories * unit);
    peak = std::max(peak, level);
    // A file is truncated before it is written: its old units are free first.
    for (const space_file& file : space.files) {
        level += static_cast<std::int64_t>(whole_units(file.size, unit)) -
                 static_cast<std::int64_t>(file.replaced);
        peak = std::max(peak, level);
    }
    return static_cast<std::uint64_t>(peak);
}

unpacking_space measure_unpacking(const path_set& paths, const payload_contents& contents,
                                  const std::optional<install_stamp>& old_stamp, bool updating,
                                  const std::vector<bool>& unchanged, std::uint64_t unit,
                                  progress_pacer& pacer) {
    unpacking_space space;
    space.unit = unit;
    // Unpacked in place from the launcher's file, the archive needs no copy.
    if (contents.home == payload_home::image) space.temp_archive = contents.archive_size;

    const install_stamp stamp = stamp_of(contents, contents.identity);
    // The unfinished stamp stands until the finished one replaces it.
    space.stamps = {stamp_size_bound(updating ? stamp_union(old_stamp.value_or(install_stamp{}),
                                                            stamp, unfinished_identity)
                                              : stamp_of(contents, unfinished_identity)),
                    stamp_size_bound(stamp)};
    space.stamps_first = updating;

    space.freed_first = allocated(paths.temp_archive_path);
    const bool data_dir_there = path_exists(paths.data_dir);
    if (data_dir_there) {
        space.freed_first += allocated(unfinished_executable_path(paths));
        space.freed_first += allocated(stamp_temp_path(paths));
    }

    // What the road removes before it writes, or (on an update) after the
    // temporary archive; files of an install without a stamp go with the
    // whole data directory and are counted at their entries below.
    std::unordered_set<std::string> removed;
    if (data_dir_there && old_stamp) {
        const std::unordered_set<std::string> kept = [&] {
            std::unordered_set<std::string> keys;
            if (updating)
                for (const std::string& file : stamp.files) keys.insert(entry_key(file));
            return keys;
        }();
        for (const std::string& file : old_stamp->files) {
            const std::string key = entry_key(file);
            if (kept.count(key) || !removed.insert(key).second) continue;
            (updating ? space.freed_before_extraction : space.freed_first) +=
                allocated(paths.data_dir + file);
            pacer.tick();
        }
    }
    const bool everything_goes_first = data_dir_there && !updating && !old_stamp;

    // The executable's entry goes to another name, and the old executable
    // goes only when that is renamed over it at the very end.
    const std::string executable = executable_entry_name(paths);
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < contents.entry_count; ++i) {
        const payload_entry& entry = contents.entries[i];
        const std::string name = entry.name;
        if (name.empty() || name.back() == '/') continue;
        if (i < unchanged.size() && unchanged[i]) continue;
        space_file file{entry.size, 0};
        const std::string key = entry_key(name);
        // A name the archive repeats replaces what its own earlier entry wrote.
        const bool first = seen.insert(key).second;
        if (data_dir_there && first && !removed.count(key)) {
            const std::uint64_t there = allocated(paths.data_dir + name);
            if (everything_goes_first)
                space.freed_first += there;
            else if (executable.empty() || !same_entry_file(name, executable))
                file.replaced = there;
            pacer.tick();
        }
        space.files.push_back(file);
    }

    // An update makes only the directories that are not there; the other
    // roads may remove every listed directory first, and the data directory.
    if (updating) {
        for (const std::string& directory : stamp.directories) {
            if (!path_exists(paths.data_dir + directory)) ++space.directories;
            pacer.tick();
        }
    } else {
        space.directories = stamp.directories.size() + 1;
    }
    return space;
}

void check_space(std::uint64_t needed, std::uint64_t free) {
    if (needed <= free) return;
    constexpr std::uint64_t megabyte = 1024 * 1024;
    const std::uint64_t needed_mb = (needed + megabyte - 1) / megabyte;
    const std::uint64_t free_mb = free / megabyte;
    throw exce("not enough free disk space to unpack the game: it needs " +
               std::to_string(needed_mb) + " MB, and " + std::to_string(free_mb) +
               " MB are free. Free some space, then start again.");
}
