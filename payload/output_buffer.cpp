#include "payload/output_buffer.hpp"

#include <algorithm>
#include <memory>

namespace {
// Below libstdc++'s 1 KiB limit for writing past the buffer.
constexpr std::size_t piece_size = 1000;
}  // namespace

void use_output_buffer(std::ofstream& out) {
    // On the heap: MinGW would store a static array in the executable's data.
    static const std::unique_ptr<char[]> buffer(new char[output_buffer_size]);
    out.rdbuf()->pubsetbuf(buffer.get(), output_buffer_size);
}

void write_buffered(std::ofstream& out, const char* data, std::size_t size) {
    for (std::size_t at = 0; at < size && out; at += piece_size)
        out.write(data + at, static_cast<std::streamsize>(std::min(piece_size, size - at)));
}
