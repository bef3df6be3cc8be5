// payload/: whether the volume has room for an unpacking, counted the way the
// file system counts: whole allocation units per file, a unit per directory.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/paths.hpp"
#include "base/progress_pacer.hpp"
#include "payload/contents.hpp"
#include "payload/install.hpp"

// One file the unpacking writes, in the archive's order.
struct space_file {
    std::uint64_t size;      // bytes it will hold
    std::uint64_t replaced;  // allocated bytes of the file it truncates at its place (0: none)
};

// What one unpacking takes and frees on the volume, step by step in the order
// it does so. Freed figures are allocated bytes as the volume reports them.
struct unpacking_space {
    std::uint64_t unit = 1;          // the volume's allocation unit
    std::uint64_t freed_first = 0;   // removed before anything is written
    std::vector<std::uint64_t> stamps;  // bytes of each stamp written on the way, at most
    bool stamps_first = false;       // the first stamp comes before anything goes (an update)
    std::uint64_t temp_archive = 0;  // bytes of the temporary archive (0 on the file home)
    std::uint64_t freed_before_extraction = 0;  // removed after the temporary archive is written
    std::uint64_t directories = 0;   // directories the unpacking makes
    std::vector<space_file> files;   // every file written, unchanged ones left out
};

// The most the unpacking takes beyond what the volume holds now, at its
// fullest moment: after an update's first stamp, after the temporary archive
// is written, or after any file of the extraction (the temporary archive
// still there, the stamps and the directories counted from the start). Space freed later (the temporary
// archive removed, an old executable replaced by a rename at the end) counts
// for nothing. Pure.
std::uint64_t space_needed(const unpacking_space& space);

// Looks at what the data directory holds to fill in what an unpacking of
// `contents` takes and frees on a volume of allocation unit `unit`, on the road
// the start-up sequence takes: `updating` replaces the old game's files in
// place and removes what `old_stamp` lists and `contents` lacks after the
// temporary archive is written; otherwise whatever the old stamp lists (or,
// without one, the whole data directory) goes before anything is written.
// `unchanged`, indexed like `contents.entries` (empty: none), marks entries the
// update leaves as they are: they take nothing and free nothing. Ticks `pacer`
// after each file looked at.
unpacking_space measure_unpacking(const path_set& paths, const payload_contents& contents,
                                  const std::optional<install_stamp>& old_stamp, bool updating,
                                  const std::vector<bool>& unchanged, std::uint64_t unit,
                                  progress_pacer& pacer);

// Throws exce with both figures in megabytes when `needed` exceeds `free`.
void check_space(std::uint64_t needed, std::uint64_t free);
