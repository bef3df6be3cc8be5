// payload/: the temporary archive opened for minizip, read through two windows.
#pragma once

#include <cstddef>
#include <string>

#include <minizip/unzip.h>

// unzOpen64 over minizip's default C-file functions, read through two
// windows of the file. minizip seeks before every read and alternates between
// the central directory and the entry it unpacks; through the C library's one
// small buffer that made a seek and a read of the system for almost every read
// of minizip's. Null on failure, as unzOpen64.
// Each window holds `window_size` bytes; a read of that much or more goes
// straight to the file.
constexpr std::size_t archive_window_size = 256 * 1024;
unzFile open_archive_file(const std::string& path, std::size_t window_size = archive_window_size);
