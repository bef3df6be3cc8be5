// base/: the error types the launcher reports and the system's message texts.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// The system's own text for an error code, without a trailing line break.
std::string system_message(std::error_code ec);

// A failed file-system operation as the player reads it: the operation's name,
// the system's message and the path in double quotes, for example
//   remove_all: Access is denied: "./!QuillMark_data/"
// The standard library's own text says "cannot remove all" and brackets the
// path, so the launcher composes the text itself and keeps the standard type.
class file_system_error : public std::filesystem::filesystem_error {
public:
    file_system_error(const std::string& operation, const std::string& narrow_path,
                      const std::filesystem::path& path, std::error_code ec);
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// A failed system call with the launcher's context in front of the system's
// message, for example
//   could not start "C:\Games\QM\\./!QuillMark_data/./Quill Mark.exe": The system cannot find the file specified.
class system_failure : public std::system_error {
public:
    system_failure(const std::string& context, std::error_code ec);
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};
