// The chunk table generated from tests' split archive (a little over 1 MiB):
// the archive back byte for byte, in chunks of 1,048,576 bytes, the last one
// shorter, each followed by an uncounted zero byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include <zlib.h>

#include "payload/archive_file.hpp"
#include "payload/chunks.hpp"
#include "payload/contents.hpp"

namespace {

constexpr std::uint64_t chunk_size = 1048576;

std::string archive_bytes() {
    std::ifstream in(PACK_SPLIT_ARCHIVE, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ChunkTable, HoldsTheArchiveByteForByte) {
    const std::string archive = archive_bytes();
    ASSERT_GT(archive.size(), chunk_size) << "the fixture must need two chunks";
    std::string joined;
    for (std::size_t i = 0; i < payload_chunk_count; ++i)
        joined.append(reinterpret_cast<const char*>(payload_chunks[i].address),
                      static_cast<std::size_t>(payload_chunks[i].length));
    EXPECT_EQ(joined.size(), archive.size());
    EXPECT_TRUE(joined == archive);
}

TEST(ChunkTable, SplitsAtOneMebibyteWithTheRestLast) {
    const std::uint64_t size = archive_bytes().size();
    ASSERT_EQ(payload_chunk_count, 2u);
    EXPECT_EQ(payload_chunks[0].length, chunk_size);
    EXPECT_EQ(payload_chunks[1].length, size - chunk_size);
}

TEST(ChunkTable, EveryChunkIsSetAndEndsInAnUncountedZero) {
    for (std::size_t i = 0; i < payload_chunk_count; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(payload_chunks[i].address, nullptr);
        EXPECT_GT(payload_chunks[i].length, 0u);
        EXPECT_EQ(payload_chunks[i].address[payload_chunks[i].length], 0);
    }
}

// The listing the packer generated beside the table: each entry's CRC-32 is
// the one of the bytes the entry unpacks to, in central-directory order.
TEST(ChunkTable, ListingCarriesEachEntrysCrcOfItsUnpackedBytes) {
    unzFile archive = open_archive_region(whole_file_region(PACK_SPLIT_ARCHIVE));
    ASSERT_NE(archive, nullptr);
    ASSERT_EQ(embedded_payload_contents.entry_count, 3u);
    ASSERT_EQ(unzGoToFirstFile(archive), UNZ_OK);
    for (std::size_t i = 0; i < embedded_payload_contents.entry_count; ++i) {
        const payload_entry& entry = embedded_payload_contents.entries[i];
        SCOPED_TRACE(entry.name);
        char name[512];
        ASSERT_EQ(unzGetCurrentFileInfo64(archive, nullptr, name, sizeof name, nullptr, 0,
                                          nullptr, 0),
                  UNZ_OK);
        EXPECT_EQ(std::string(name), entry.name);
        ASSERT_EQ(unzOpenCurrentFile(archive), UNZ_OK);
        uLong crc = crc32(0L, Z_NULL, 0);
        char buffer[8192];
        for (int got; (got = unzReadCurrentFile(archive, buffer, sizeof buffer)) > 0;)
            crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(got));
        unzCloseCurrentFile(archive);
        EXPECT_EQ(entry.crc32, static_cast<std::uint32_t>(crc));
        if (i + 1 < embedded_payload_contents.entry_count)
            ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
    }
    // The fixture's entries differ, so a listing that repeated one CRC would fail above.
    EXPECT_NE(embedded_payload_contents.entries[1].crc32, embedded_payload_contents.entries[2].crc32);
    unzClose(archive);
}

}  // namespace
