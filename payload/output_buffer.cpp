#include "payload/output_buffer.hpp"

#include <algorithm>

namespace {
// Below libstdc++'s 1 KiB limit for writing past the buffer.
constexpr std::size_t piece_size = 1000;
}  // namespace

void use_output_buffer(std::ofstream& out) {
    static char buffer[output_buffer_size];
    out.rdbuf()->pubsetbuf(buffer, sizeof buffer);
}

void write_buffered(std::ofstream& out, const char* data, std::size_t size) {
    for (std::size_t at = 0; at < size && out; at += piece_size)
        out.write(data + at, static_cast<std::streamsize>(std::min(piece_size, size - at)));
}
