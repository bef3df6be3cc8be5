// payload/: what the packer listed of the archive: identity, entries, sizes.
#pragma once

#include <cstddef>
#include <cstdint>

// One entry of the game's archive, as the packer listed it at build time.
// A name that ends in "/" is a directory entry.
struct payload_entry {
    const char* name;
    std::uint64_t size;   // unpacked bytes
    std::uint32_t crc32;  // of the unpacked bytes, from the central directory
};

// Where the archive travels in the launcher. Up to a build-time limit in the
// image, as the chunk table in read-only data, written out to the temporary
// archive before it is unpacked; above it in the executable's file after
// everything the loader maps, where the launcher unpacks it from in place.
enum class payload_home { image, file };

// The record that tells the launcher where in its own file the archive lies.
// It sits in a section of its own, which the build's attach step finds
// through the executable's section table: the step appends the archive to the
// linked file and writes its offset and size here. A launcher never attached
// holds zeros; a signature appended later leaves the record true.
struct attached_archive_record {
    unsigned char magic[16];  // attached_archive_magic: what the attach step looks for
    std::uint64_t offset;     // of the archive's first byte in the executable's file
    std::uint64_t size;
};
// The section's name: 8 characters, so that a PE section table keeps it in
// full even in a stripped image (longer names live in the symbol table's strings).
constexpr const char* attached_archive_section = ".payload";
constexpr unsigned char attached_archive_magic[16] = {'a', 't', 't', 'a', 'c', 'h', 'e', 'd',
                                                      '-', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};

// What the launcher carries, known before a byte of it is written: the
// identity tells an install of this archive from any other.
struct payload_contents {
    const char* identity;  // SHA-256 of the archive's bytes, in hex
    std::uint64_t archive_size;
    std::uint64_t unpacked_size;  // all entries together
    const payload_entry* entries;  // in central-directory order
    std::size_t entry_count;
    payload_home home;
    // Where the attach step writes the archive's place: on the file home only,
    // read through a volatile access since the build patches it after linking.
    const volatile attached_archive_record* attached;
};

// Generated with the chunk table and linked into launcher executables only.
extern const payload_contents embedded_payload_contents;
