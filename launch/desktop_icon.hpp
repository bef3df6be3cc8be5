// launch/: the launcher's icon as the X11 desktop carries it.
#pragma once

#include <cstddef>
#include <vector>

// The launcher's icon as an .ico file of uncompressed 32-bit images, one per
// size (made by the build from LAUNCHER_ICON, resources/icon_file.py), built
// into each program for desktops that take icons as pixel data rather than
// as a resource.
extern const unsigned char launcher_icon_file[];
extern const std::size_t launcher_icon_file_size;

// The images of an .ico file as _NET_WM_ICON data: for each, width, height,
// then width * height pixels as 0xAARRGGBB, top row first. Only uncompressed
// 32-bit images are taken (others are left out); a file with none of them,
// or no icon file at all, gives an empty result.
std::vector<unsigned long> icon_argb(const unsigned char* data, std::size_t size);
