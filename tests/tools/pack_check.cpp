// Linked with one payload: writes the chunks in table order to the file named
// by its argument and describes the table on standard output, one line each:
//   count=<entries>
//   chunk=<length> <address: set|null> <the byte after the chunk, decimal>
#include <cstdio>

#include "payload/chunks.hpp"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 2;
    std::printf("count=%zu\n", payload_chunk_count);
    for (std::size_t i = 0; i < payload_chunk_count; ++i) {
        const payload_chunk& chunk = payload_chunks[i];
        if (!chunk.address) {
            std::printf("chunk=%llu null -1\n", static_cast<unsigned long long>(chunk.length));
            continue;
        }
        std::fwrite(chunk.address, 1, chunk.length, out);
        std::printf("chunk=%llu set %d\n", static_cast<unsigned long long>(chunk.length),
                    chunk.address[chunk.length]);
    }
    return std::fclose(out) == 0 ? 0 : 2;
}
