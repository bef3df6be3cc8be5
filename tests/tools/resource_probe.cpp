// Reads a program's version resource and icons the way Explorer and Task
// Manager do, through the system's own calls, and records what it found.
//   resource_probe.exe <program.exe> <record file>
// The record (UTF-8, one key=value a line):
//   file_version, product_version   the fixed part's numbers, as a.b.c.d
//   file_os, file_type              the fixed part's FILEOS and FILETYPE
//   translation                     the first language and code page, as 0409-04b0
//   string.<name>                   each string field of that translation
//   icon_count                      what ExtractIconEx counts
//   large, small                    ExtractIconEx's large and small icon of
//                                   the first group: width x height #rrggbb
//                                   of the pixel at the centre
//   size.<n>                        the group's image of n x n pixels as
//                                   LoadImage picks it, in the same form
// Exits 0 once the record is written, 1 when the program has no version
// resource, 2 on wrong arguments.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring wide(const char* text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), L'\0');
    if (size > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
    return out;
}

std::string version_text(DWORD most, DWORD least) {
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", HIWORD(most), LOWORD(most), HIWORD(least),
                  LOWORD(least));
    return text;
}

// "<width> x <height> #rrggbb" of an icon, the colour at its centre (its
// transparency may be in the alpha channel or in the mask: left out).
std::string describe_icon(HICON icon) {
    if (!icon) return "none";
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return "no icon info";
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    const int width = bitmap.bmWidth;
    const int height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    std::string colour = "?";
    if (info.hbmColor) {
        BITMAPINFO request{};
        request.bmiHeader.biSize = sizeof request.bmiHeader;
        request.bmiHeader.biWidth = width;
        request.bmiHeader.biHeight = -height;  // top row first
        request.bmiHeader.biPlanes = 1;
        request.bmiHeader.biBitCount = 32;
        request.bmiHeader.biCompression = BI_RGB;
        std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
        HDC screen = GetDC(nullptr);
        if (GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(height), pixels.data(), &request,
                      DIB_RGB_COLORS) == height) {
            const unsigned char* p = &pixels[(static_cast<std::size_t>(height / 2) * width + width / 2) * 4];
            char text[16];
            std::snprintf(text, sizeof text, "#%02x%02x%02x", p[2], p[1], p[0]);
            colour = text;
        }
        ReleaseDC(nullptr, screen);
        DeleteObject(info.hbmColor);
    }
    if (info.hbmMask) DeleteObject(info.hbmMask);
    char text[64];
    std::snprintf(text, sizeof text, "%d x %d ", width, height);
    return text + colour;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::wstring program = wide(argv[1]);
    std::FILE* record = std::fopen(argv[2], "wb");
    if (!record) return 2;

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(program.c_str(), 0, size, block.data())) {
        std::fclose(record);
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        std::fprintf(record, "file_version=%s\nproduct_version=%s\nfile_os=0x%lx\nfile_type=%lu\n",
                     version_text(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str(),
                     version_text(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str(),
                     fixed->dwFileOS, fixed->dwFileType);
    }
    struct translation {
        WORD language, code_page;
    }* translations = nullptr;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translations), &length) &&
        length >= sizeof(translation)) {
        wchar_t prefix[64];
        swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translations->language,
                 translations->code_page);
        std::fprintf(record, "translation=%04x-%04x\n", translations->language,
                     translations->code_page);
        for (const wchar_t* name :
             {L"ProductName", L"FileDescription", L"CompanyName", L"LegalCopyright",
              L"ProductVersion", L"FileVersion", L"OriginalFilename", L"InternalName"}) {
            wchar_t* value = nullptr;
            if (VerQueryValueW(block.data(), (std::wstring(prefix) + name).c_str(),
                               reinterpret_cast<void**>(&value), &length) && value)
                std::fprintf(record, "string.%s=%s\n", utf8(name).c_str(), utf8(value).c_str());
        }
    }

    const UINT count = ExtractIconExW(program.c_str(), -1, nullptr, nullptr, 0);
    HICON large = nullptr, small = nullptr;
    ExtractIconExW(program.c_str(), 0, &large, &small, 1);
    std::fprintf(record, "icon_count=%u\nlarge=%s\nsmall=%s\n", count, describe_icon(large).c_str(),
                 describe_icon(small).c_str());
    if (large) DestroyIcon(large);
    if (small) DestroyIcon(small);

    // The group's images one by one, as a program loading icon group 1 at a size gets them.
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    for (int side : {16, 32, 48, 256}) {
        HICON icon = module ? static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                            side, side, 0))
                            : nullptr;
        std::fprintf(record, "size.%d=%s\n", side, describe_icon(icon).c_str());
        if (icon) DestroyIcon(icon);
    }
    if (module) FreeLibrary(module);
    std::fclose(record);
    return 0;
}
