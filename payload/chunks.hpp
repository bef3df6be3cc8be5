// payload/: the embedded archive's chunk table, generated at build time.
#pragma once

#include <cstddef>
#include <cstdint>

// One piece of the embedded game archive, in the program's read-only data.
// Bytes beyond `length` (a terminating zero) never belong to the archive.
struct payload_chunk {
    const unsigned char* address;
    std::uint64_t length;
};

// The archive is the concatenation of the chunks in table order. Generated
// from the game's archive at build time and linked into the launcher only, so
// tests can write their own tables.
extern const payload_chunk payload_chunks[];
extern const std::size_t payload_chunk_count;
