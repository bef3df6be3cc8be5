// payload/: an archive that is a region of a file, opened for minizip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include <minizip/ioapi.h>
#include <minizip/unzip.h>

// Where an archive lies: `size` bytes from byte `offset` of a file. The
// temporary archive is the region [0, its size) of its own file; an archive
// attached to the launcher is a region of the launcher's file, with the image
// before it and, once signed, a certificate after it.
struct archive_region {
    std::filesystem::path file;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// The whole file at `path` as a region; a file that is not there is an empty
// region, which minizip then fails to open.
archive_region whole_file_region(const std::filesystem::path& path);

// unzOpen2_64 over the region: minizip sees a file that begins at the
// region's offset and ends at its end, whatever lies around it. The file is
// opened at the platform's own path (base/fs.hpp) and read through minizip's
// default C-file functions and two windows of the file: minizip seeks before
// every read and alternates between the central directory and the entry it
// unpacks, and through the C library's one small buffer that made a seek and
// a read of the system for almost every read of minizip's. Null on failure,
// as unzOpen64.
// Each window holds `window_size` bytes; a read of that much or more goes
// straight to the file.
constexpr std::size_t archive_window_size = 256 * 1024;
unzFile open_archive_region(const archive_region& region,
                            std::size_t window_size = archive_window_size);

// What open_archive_region hands unzOpen2_64, for the tests that drive the
// reader as minizip does: the functions' open takes a region_request.
struct region_request {
    const archive_region* region;
    std::size_t window_size;
};
zlib_filefunc64_def region_file_functions();
