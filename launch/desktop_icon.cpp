#include "launch/desktop_icon.hpp"

#include <cstdint>

namespace {

std::uint32_t read_le(const unsigned char* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

// One uncompressed 32-bit image of an .ico file appended as _NET_WM_ICON
// data; false (and nothing appended) for any other kind of image.
void append_image(const unsigned char* data, std::size_t size, const unsigned char* entry,
                  std::vector<unsigned long>& out) {
    constexpr std::size_t header_size = 40;
    const std::size_t image_size = read_le(entry + 8, 4);
    const std::size_t offset = read_le(entry + 12, 4);
    if (offset > size || image_size > size - offset || image_size < header_size) return;

    const unsigned char* bmp = data + offset;
    if (read_le(bmp, 4) != header_size) return;  // also turns away PNG images
    const auto width = static_cast<std::int32_t>(read_le(bmp + 4, 4));
    const auto double_height = static_cast<std::int32_t>(read_le(bmp + 8, 4));
    const std::uint32_t bit_count = read_le(bmp + 14, 2);
    const std::uint32_t compression = read_le(bmp + 16, 4);
    // An icon's bitmap is twice as high as the image: colours, then the mask.
    if (width <= 0 || width > 256 || double_height <= 0 || double_height % 2 != 0 ||
        double_height / 2 > 256 || bit_count != 32 || compression != 0)
        return;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(double_height / 2);
    const std::size_t color_bytes = w * h * 4;
    const std::size_t mask_row = (w + 31) / 32 * 4;
    if (image_size - header_size < color_bytes) return;
    const unsigned char* colors = bmp + header_size;
    const unsigned char* mask = colors + color_bytes;
    const bool has_mask = image_size - header_size >= color_bytes + mask_row * h;

    // Old-style 32-bit icons leave alpha at zero and say transparency with
    // the mask alone.
    bool alpha_used = false;
    for (std::size_t i = 0; i < w * h && !alpha_used; ++i) alpha_used = colors[i * 4 + 3] != 0;

    out.reserve(out.size() + 2 + w * h);
    out.push_back(w);
    out.push_back(h);
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t row = h - 1 - y;  // stored bottom row first
        for (std::size_t x = 0; x < w; ++x) {
            const unsigned char* p = colors + (row * w + x) * 4;  // B, G, R, A
            unsigned long alpha = p[3];
            if (!alpha_used) {
                const bool clear = has_mask && (mask[row * mask_row + x / 8] & (0x80 >> (x % 8)));
                alpha = clear ? 0 : 0xFF;
            }
            out.push_back(alpha << 24 | static_cast<unsigned long>(p[2]) << 16 |
                          static_cast<unsigned long>(p[1]) << 8 | p[0]);
        }
    }
}

}  // namespace

std::vector<unsigned long> icon_argb(const unsigned char* data, std::size_t size) {
    constexpr std::size_t dir_size = 6, entry_size = 16;
    if (size < dir_size + entry_size) return {};
    if (read_le(data, 2) != 0 || read_le(data + 2, 2) != 1) return {};
    const std::size_t count = read_le(data + 4, 2);
    if (count < 1 || size < dir_size + entry_size * count) return {};

    // _NET_WM_ICON holds any number of sizes one after the other; the
    // desktop picks the one it shows.
    std::vector<unsigned long> out;
    for (std::size_t i = 0; i < count; ++i)
        append_image(data, size, data + dir_size + entry_size * i, out);
    return out;
}
