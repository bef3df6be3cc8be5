#include "payload/archive_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include <minizip/ioapi.h>

#include "base/fs.hpp"

namespace {

// One part of the region held in memory, and when it last served a read.
struct window {
    std::unique_ptr<char[]> bytes;
    ZPOS64_T start = 0;
    std::size_t length = 0;
    unsigned long long last_use = 0;

    bool holds(ZPOS64_T at) const { return at >= start && at < start + length; }
};

// The stream minizip is handed: the default functions over the file,
// unbuffered since the windows are its buffer, and the position minizip asked
// for, counted from the region's first byte.
struct windowed_file {
    zlib_filefunc64_def defaults;
    std::size_t window_size = 0;
    voidpf file = nullptr;
    ZPOS64_T offset = 0;  // of the region in the file
    ZPOS64_T size = 0;    // of the region
    ZPOS64_T position = 0;
    window windows[2];
    unsigned long long uses = 0;

    // Reads at most `wanted` bytes at `at` of the region, none past its end.
    uLong read_region(ZPOS64_T at, void* into, uLong wanted) {
        if (at >= size) return 0;
        wanted = static_cast<uLong>(std::min<ZPOS64_T>(wanted, size - at));
        if (defaults.zseek64_file(defaults.opaque, file, offset + at, ZLIB_FILEFUNC_SEEK_SET) != 0)
            return 0;
        return defaults.zread_file(defaults.opaque, file, into, wanted);
    }
};

voidpf ZCALLBACK open_windowed(voidpf, const void* request_pointer, int) {
    const auto& request = *static_cast<const region_request*>(request_pointer);
    auto stream = std::make_unique<windowed_file>();
    stream->window_size = request.window_size;
    stream->offset = request.region->offset;
    stream->size = request.region->size;
    for (window& w : stream->windows) w.bytes.reset(new char[stream->window_size]);
    fill_fopen64_filefunc(&stream->defaults);
    // Opened here rather than by the default open function, which takes only
    // a narrow path: on Windows that is the ANSI code page, which cannot name
    // every folder a player may keep the launcher in.
    std::FILE* file = open_for_reading(request.region->file);
    if (!file) return nullptr;
    std::setvbuf(file, nullptr, _IONBF, 0);
    stream->file = file;
    return stream.release();
}

uLong ZCALLBACK read_windowed(voidpf, voidpf handle, void* into, uLong size) {
    auto& stream = *static_cast<windowed_file*>(handle);
    char* out = static_cast<char*>(into);
    uLong done = 0;
    while (done < size) {
        window* hit = nullptr;
        for (window& w : stream.windows)
            if (w.holds(stream.position)) hit = &w;
        if (!hit) {
            const uLong rest = size - done;
            if (rest >= stream.window_size) {
                // Too big to be worth holding: straight into the caller's memory.
                const uLong got = stream.read_region(stream.position, out + done, rest);
                stream.position += got;
                done += got;
                break;
            }
            // Refill the window that served least recently.
            hit = &*std::min_element(
                std::begin(stream.windows), std::end(stream.windows),
                [](const window& a, const window& b) { return a.last_use < b.last_use; });
            hit->start = stream.position;
            hit->length = stream.read_region(stream.position, hit->bytes.get(),
                                             static_cast<uLong>(stream.window_size));
            if (hit->length == 0) break;
        }
        hit->last_use = ++stream.uses;
        const std::size_t offset = static_cast<std::size_t>(stream.position - hit->start);
        const std::size_t take = std::min<std::size_t>(hit->length - offset, size - done);
        std::memcpy(out + done, hit->bytes.get() + offset, take);
        stream.position += take;
        done += take;
    }
    return done;
}

uLong ZCALLBACK write_windowed(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tell_windowed(voidpf, voidpf handle) {
    return static_cast<windowed_file*>(handle)->position;
}

long ZCALLBACK seek_windowed(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
    auto& stream = *static_cast<windowed_file*>(handle);
    // Only positions change: the file is read at the next read. Unsigned
    // arithmetic wraps, so a "negative" offset from the end lands before it.
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        stream.position = offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        stream.position += offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        stream.position = stream.size + offset;
        return 0;
    default:
        return -1;
    }
}

int ZCALLBACK close_windowed(voidpf, voidpf handle) {
    std::unique_ptr<windowed_file> stream(static_cast<windowed_file*>(handle));
    return stream->defaults.zclose_file(stream->defaults.opaque, stream->file);
}

int ZCALLBACK error_windowed(voidpf, voidpf handle) {
    auto& stream = *static_cast<windowed_file*>(handle);
    return stream.defaults.zerror_file(stream.defaults.opaque, stream.file);
}

}  // namespace

archive_region whole_file_region(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    return {path, 0, ec ? 0 : static_cast<std::uint64_t>(size)};
}

zlib_filefunc64_def region_file_functions() {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = open_windowed;
    functions.zread_file = read_windowed;
    functions.zwrite_file = write_windowed;
    functions.ztell64_file = tell_windowed;
    functions.zseek64_file = seek_windowed;
    functions.zclose_file = close_windowed;
    functions.zerror_file = error_windowed;
    return functions;
}

unzFile open_archive_region(const archive_region& region, std::size_t window_size) {
    zlib_filefunc64_def functions = region_file_functions();
    // Read by the open function only, within unzOpen2_64.
    const region_request request{&region, window_size};
    return unzOpen2_64(&request, &functions);
}
