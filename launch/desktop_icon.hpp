// launch/: the launcher's icon as the X11 desktop carries it.
#pragma once

#include <cstddef>
#include <vector>

// The launcher's icon file (resources/launcher.ico), built into the program
// for desktops that take icons as pixel data rather than as a resource.
extern const unsigned char launcher_icon_file[];
extern const std::size_t launcher_icon_file_size;

// The first image of an .ico file as _NET_WM_ICON data: width, height, then
// width * height pixels as 0xAARRGGBB, top row first. Only uncompressed
// 32-bit images are taken; anything else gives an empty result.
std::vector<unsigned long> icon_argb(const unsigned char* data, std::size_t size);
