// payload/: writing the temporary archive and unpacking it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "base/durable.hpp"
#include "base/paths.hpp"
#include "base/progress_pacer.hpp"
#include "payload/archive_file.hpp"
#include "payload/chunks.hpp"
#include "payload/install.hpp"

// Writes the archive held in `chunks` (in table order) to the temporary
// archive path through `out`, which it receives closed and leaves closed,
// in pieces of temp_archive_piece_size with a tick of `pacer` after each.
// Throws exce naming the temporary archive when it cannot be created or
// written completely.
void write_temp_archive(const path_set& paths, std::ofstream& out, const payload_chunk* chunks,
                        std::size_t chunk_count, progress_pacer& pacer);

// A write the system may take a while over (a slow disk, wine) stays short
// enough that the window's next answer is not held up for long.
constexpr std::size_t temp_archive_piece_size = 256 * 1024;

// What becomes of the archive's file once every entry is unpacked: the
// temporary archive goes, the launcher's own file stays.
enum class after_unpacking { remove_file, keep_file };

// Unpacks the archive in `archive` into the data directory, moving the
// progress after each entry, tells `written` of every file it wrote and waits
// until they are all on stable storage, then closes the progress window and,
// as `then` says, removes the archive's file. The game's executable is put in place
// last, so its presence means the whole archive was unpacked. The pacer is
// ticked after every block copied; within an entry of byte_progress_min_size
// or more it moves the bar by bytes (entry_progress_fraction) when it comes due.
// An entry that `unchanged` marks (indexed in central-directory order; shorter
// or empty: none) is passed over unread and its file left as it is; it counts
// as done for the bar all the same. Every file written is told to `written`,
// which has them on stable storage before the window closes. Returns the
// record of every file written.
file_records extract_archive(const path_set& paths, const archive_region& archive,
                             after_unpacking then, std::ofstream& out, progress_pacer& pacer,
                             written_files& written, const std::vector<bool>& unchanged = {});

// An entry this large moves the bar while it is copied; a smaller one only at its end.
constexpr std::uint64_t byte_progress_min_size = 8 * 1024 * 1024;

// The bar's fraction after `done` of an entry's `size` bytes: from `start`,
// where the bar stood when the entry began, toward `end`, where it stands
// after the entry, in proportion to the bytes; never outside the two.
float entry_progress_fraction(float start, float end, std::uint64_t done, std::uint64_t size);
