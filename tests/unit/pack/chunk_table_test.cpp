// The chunk table generated from tests' split archive (a little over 1 MiB):
// the archive back byte for byte, in chunks of 1,048,576 bytes, the last one
// shorter, each followed by an uncounted zero byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "payload/chunks.hpp"

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

}  // namespace
