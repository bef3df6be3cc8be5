// Windows: narrow text is in the file functions' code page. MinGW's standard
// library does not convert paths with that code page, so convert explicitly.
#include "base/errors.hpp"
#include "base/fs.hpp"

#include <windows.h>

namespace fs = std::filesystem;

namespace {

UINT file_code_page() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::error_code last_error() { return {static_cast<int>(GetLastError()), std::system_category()}; }

std::wstring to_wide(const std::string& narrow) {
    if (narrow.empty()) return {};
    const UINT cp = file_code_page();
    const int size = static_cast<int>(narrow.size());
    const int needed = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, narrow.data(), size, nullptr, 0);
    if (needed == 0) throw system_failure("MultiByteToWideChar", last_error());
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, narrow.data(), size, wide.data(), needed);
    return wide;
}

// The code page's default character would silently stand in for anything it
// cannot represent; the launcher treats that as a failed conversion.
std::string from_wide(const std::wstring& wide) {
    if (wide.empty()) return {};
    const UINT cp = file_code_page();
    const bool utf8 = cp == CP_UTF8 || (cp == CP_ACP && GetACP() == CP_UTF8) ||
                      (cp == CP_OEMCP && GetOEMCP() == CP_UTF8);
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    BOOL* used_default_out = utf8 ? nullptr : &used_default;
    const int size = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(cp, flags, wide.data(), size, nullptr, 0, nullptr, used_default_out);
    if (needed == 0) throw system_failure("WideCharToMultiByte", last_error());
    if (used_default)
        throw system_failure("WideCharToMultiByte",
                             {ERROR_NO_UNICODE_TRANSLATION, std::system_category()});
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(cp, flags, wide.data(), size, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

}  // namespace

fs::path to_fs_path(const std::string& narrow) { return fs::path(to_wide(narrow)); }

std::string to_narrow(const fs::path& path) { return from_wide(path.native()); }

fs::path absolute_path(const std::string& narrow) {
    const fs::path relative = to_fs_path(narrow);
    const std::wstring& in = relative.native();
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(in.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
        if (length == 0) throw file_system_error("absolute", narrow, relative, last_error());
        if (length < out.size()) {
            out.resize(length);
            return fs::path(out);
        }
        out.resize(length);  // too small: length is the size needed, terminator included
    }
}

bool file_in_use(const std::string& narrow) {
    const std::wstring wide = to_wide(narrow);
    // Asks for what rewriting needs while sharing everything: only a holder
    // that shares less (a running image, a loaded DLL, a file opened
    // exclusively) makes this fail with a sharing or lock violation.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

void make_runnable(const std::string&) {}

std::FILE* open_for_reading(const fs::path& path) { return _wfopen(path.c_str(), L"rb"); }

fs::path own_executable_path() {
    // No limit is documented: the buffer grows until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) throw system_failure("GetModuleFileNameW", last_error());
        if (length < path.size()) {
            path.resize(length);
            return fs::path(path);
        }
        path.resize(path.size() * 2);  // cut short: the result filled the buffer
    }
}

std::string own_executable_name() {
    const fs::path path = own_executable_path();
    try {
        return to_narrow(path);
    } catch (const system_failure&) {
        // A name the message box's code page cannot show: its file name alone
        // may still be shown, or else a description.
        try {
            return to_narrow(path.filename());
        } catch (const system_failure&) {
            return "this launcher";
        }
    }
}

std::optional<file_facts> regular_file_facts(const std::string& narrow) {
    const std::wstring wide = to_wide(narrow);
    // No access asked for: only the file's attributes are read, so a file a
    // running game holds is examined too. A reparse point is looked at itself.
    const HANDLE file = CreateFileW(wide.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    const bool read = GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
                      GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard);
    CloseHandle(file);
    constexpr DWORD not_regular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                  FILE_ATTRIBUTE_DEVICE;
    if (!read || (basic.FileAttributes & not_regular) || standard.Directory) return std::nullopt;
    return file_facts{static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
                      static_cast<std::int64_t>(basic.LastWriteTime.QuadPart),
                      static_cast<std::uint64_t>(standard.AllocationSize.QuadPart)};
}

std::uint64_t allocation_unit(const std::string& narrow) {
    // GetDiskFreeSpaceW wants the volume's root; the volume that holds the
    // path is the one GetVolumePathNameW names.
    const std::wstring wide = absolute_path(narrow).native();
    std::wstring root(wide.size() + 2, L'\0');
    if (!GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size())))
        throw file_system_error("space", narrow, to_fs_path(narrow), last_error());
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceW(root.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                           &clusters))
        throw file_system_error("space", narrow, to_fs_path(narrow), last_error());
    return static_cast<std::uint64_t>(sectors_per_cluster) * bytes_per_sector;
}
