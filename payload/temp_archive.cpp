#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>

#include "base/exce.hpp"
#include "payload/payload.hpp"
#include "payload/stream_error.hpp"

namespace {

[[noreturn]] void fail(const char* what, const path_set& paths, const std::string& reason) {
    throw exce(std::string(what) + " the temporary archive \"" + paths.temp_archive_path + "\"" +
               reason);
}

}  // namespace

void write_temp_archive(const path_set& paths, std::ofstream& out, const payload_chunk* chunks,
                        std::size_t chunk_count, progress_pacer& pacer) {
    // MinGW's streams open through the C runtime's fopen, which already shares
    // the file deny-none (_SH_DENYNO), so other processes may open it meanwhile.
    errno = 0;
    out.open(paths.temp_archive_path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out.is_open()) fail("could not create", paths, stream_failure_reason());
    stream_closer closer(out);

    // Straight from read-only data: no copy, no transformation.
    for (std::size_t i = 0; i < chunk_count; ++i) {
        const char* bytes = reinterpret_cast<const char*>(chunks[i].address);
        for (std::uint64_t at = 0; at < chunks[i].length; at += temp_archive_piece_size) {
            const std::uint64_t piece = std::min<std::uint64_t>(temp_archive_piece_size,
                                                                chunks[i].length - at);
            out.write(bytes + at, static_cast<std::streamsize>(piece));
            if (!out) fail("could not write", paths, stream_failure_reason());
            pacer.tick();
        }
    }
    out.close();
    // A short archive would only surface later as an unreadable one.
    if (!out) fail("could not write", paths, stream_failure_reason());
}
