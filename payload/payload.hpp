// payload/: writing the temporary archive and unpacking it.
#pragma once

#include <cstddef>
#include <fstream>
#include <string>

#include "base/paths.hpp"
#include "base/progress_display.hpp"
#include "payload/archive_file.hpp"
#include "payload/chunks.hpp"

// Writes the archive held in `chunks` (in table order) to the temporary
// archive path through `out`, which it receives closed and leaves closed.
// Throws exce naming the temporary archive when it cannot be created or
// written completely.
void write_temp_archive(const path_set& paths, std::ofstream& out, const payload_chunk* chunks,
                        std::size_t chunk_count);

// What becomes of the archive's file once every entry is unpacked: the
// temporary archive goes, the launcher's own file stays.
enum class after_unpacking { remove_file, keep_file };

// Unpacks the archive in `archive` into the data directory, moving the
// progress after each entry, then closes the progress window and, as `then`
// says, removes the archive's file. The game's executable is put in place
// last, so its presence means the whole archive was unpacked.
void extract_archive(const path_set& paths, const archive_region& archive, after_unpacking then,
                     std::ofstream& out, progress_display& progress);
