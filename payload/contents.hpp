// payload/: what the packer listed of the archive: identity, entries, sizes.
#pragma once

#include <cstddef>
#include <cstdint>

// One entry of the game's archive, as the packer listed it at build time.
// A name that ends in "/" is a directory entry.
struct payload_entry {
    const char* name;
    std::uint64_t size;  // unpacked bytes
};

// What the launcher carries, known before a byte of it is written: the
// identity tells an install of this archive from any other.
struct payload_contents {
    const char* identity;  // SHA-256 of the archive's bytes, in hex
    std::uint64_t archive_size;
    std::uint64_t unpacked_size;  // all entries together
    const payload_entry* entries;  // in central-directory order
    std::size_t entry_count;
};

// Generated with the chunk table and linked into launcher executables only.
extern const payload_contents embedded_payload_contents;
