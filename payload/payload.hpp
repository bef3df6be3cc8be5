#pragma once

#include <fstream>

#include "app/paths.hpp"

// Writes the embedded archive to the temporary archive path through `out`,
// which it receives closed and leaves closed.
void write_temp_archive(const path_set& paths, std::ofstream& out);

// Unpacks the temporary archive into the data directory, then closes the
// progress window and removes the temporary archive.
void extract_archive(const path_set& paths, std::ofstream& out);
