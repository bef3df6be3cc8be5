#include "payload/archive_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include <minizip/ioapi.h>

namespace {

// One part of the file held in memory, and when it last served a read.
struct window {
    std::unique_ptr<char[]> bytes;
    ZPOS64_T start = 0;
    std::size_t length = 0;
    unsigned long long last_use = 0;

    bool holds(ZPOS64_T at) const { return at >= start && at < start + length; }
};

// The stream minizip is handed: the default functions' file, unbuffered
// since the windows are its buffer, and the position minizip asked for.
struct windowed_file {
    zlib_filefunc64_def defaults;
    std::size_t window_size = 0;
    voidpf file = nullptr;
    ZPOS64_T position = 0;
    window windows[2];
    unsigned long long uses = 0;

    bool seek_file(ZPOS64_T at) {
        return defaults.zseek64_file(defaults.opaque, file, at, ZLIB_FILEFUNC_SEEK_SET) == 0;
    }
    uLong read_file(void* into, uLong size) {
        return defaults.zread_file(defaults.opaque, file, into, size);
    }
};

voidpf ZCALLBACK open_windowed(voidpf window_size, const void* filename, int mode) {
    auto stream = std::make_unique<windowed_file>();
    stream->window_size = *static_cast<const std::size_t*>(window_size);
    for (window& w : stream->windows) w.bytes.reset(new char[stream->window_size]);
    fill_fopen64_filefunc(&stream->defaults);
    stream->file = stream->defaults.zopen64_file(stream->defaults.opaque, filename, mode);
    if (!stream->file) return nullptr;
    std::setvbuf(static_cast<FILE*>(stream->file), nullptr, _IONBF, 0);
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
                if (!stream.seek_file(stream.position)) break;
                const uLong got = stream.read_file(out + done, rest);
                stream.position += got;
                done += got;
                break;
            }
            // Refill the window that served least recently.
            hit = &*std::min_element(
                std::begin(stream.windows), std::end(stream.windows),
                [](const window& a, const window& b) { return a.last_use < b.last_use; });
            hit->start = stream.position;
            hit->length = 0;
            if (!stream.seek_file(stream.position)) break;
            hit->length = stream.read_file(hit->bytes.get(), static_cast<uLong>(stream.window_size));
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
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        stream.position = offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        stream.position += offset;
        return 0;
    default:
        // Only the end needs the file: it alone knows its length.
        if (stream.defaults.zseek64_file(stream.defaults.opaque, stream.file, offset, origin) != 0)
            return -1;
        stream.position = stream.defaults.ztell64_file(stream.defaults.opaque, stream.file);
        return 0;
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

unzFile open_archive_file(const std::string& path, std::size_t window_size) {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = open_windowed;
    functions.zread_file = read_windowed;
    functions.zwrite_file = write_windowed;
    functions.ztell64_file = tell_windowed;
    functions.zseek64_file = seek_windowed;
    functions.zclose_file = close_windowed;
    functions.zerror_file = error_windowed;
    // Read by the open function only, within unzOpen2_64.
    functions.opaque = &window_size;
    return unzOpen2_64(path.c_str(), &functions);
}
