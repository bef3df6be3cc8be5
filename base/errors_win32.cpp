// Windows: the system's own text for an error code, from FormatMessageA.
#include <windows.h>

#include "base/errors.hpp"

std::string system_message(std::error_code ec) {
    if (ec.category() != std::system_category()) return ec.message();
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(ec.value()), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length ? std::string(buffer, length) : "system error " + std::to_string(ec.value());
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    // Some messages expect the file's name as an insert ("%1 is not a valid
    // Win32 application."); the launcher names the file in its own context.
    for (std::size_t at; (at = text.find("%1")) != std::string::npos;) text.replace(at, 2, "the file");
    return text;
}
