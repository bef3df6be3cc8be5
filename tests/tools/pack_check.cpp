// Linked with one payload: writes the archive it carries to the file named by
// its argument and describes how it carries it on standard output:
//   home=<image|file>
//   count=<chunks>
//   chunk=<length> <address: set|null> <the byte after the chunk, decimal>
// On the image home the archive is the chunks in table order; on the file
// home it is read from this program's own file where the record says.
#include <cstdio>
#include <fstream>
#include <vector>

#include "payload/chunks.hpp"
#include "payload/contents.hpp"

namespace {

int write_attached(std::FILE* out) {
    const std::uint64_t offset = embedded_payload_contents.attached->offset;
    const std::uint64_t size = embedded_payload_contents.attached->size;
    std::ifstream self("/proc/self/exe", std::ios::binary);
    self.seekg(static_cast<std::streamoff>(offset));
    std::vector<char> bytes(size);
    if (!self.read(bytes.data(), static_cast<std::streamsize>(size))) return 2;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 2;
    const bool file = embedded_payload_contents.home == payload_home::file;
    std::printf("home=%s\ncount=%zu\n", file ? "file" : "image", payload_chunk_count);
    if (file && write_attached(out) != 0) return 2;
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
