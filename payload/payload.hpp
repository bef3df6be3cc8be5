// payload/: writing the temporary archive and unpacking it.
#pragma once

#include <cstddef>
#include <fstream>
#include <string>

#include "base/paths.hpp"
#include "base/progress_display.hpp"
#include "payload/chunks.hpp"

// Writes the archive held in `chunks` (in table order) to the temporary
// archive path through `out`, which it receives closed and leaves closed.
// Throws exce naming the temporary archive when it cannot be created or
// written completely.
void write_temp_archive(const path_set& paths, std::ofstream& out, const payload_chunk* chunks,
                        std::size_t chunk_count);

// Unpacks the temporary archive into the data directory, moving the progress
// after each entry, then closes the progress window and removes the
// temporary archive. The game's executable is put in place last, so its
// presence means the whole archive was unpacked.
void extract_archive(const path_set& paths, std::ofstream& out, progress_display& progress);
