// payload/: the reason a stream failed, and a closer for error paths.
#pragma once

#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>

#include "base/errors.hpp"

// The C runtime's reason for the last failed stream operation, as ": reason",
// or nothing when it left none. Callers clear errno before the operation.
inline std::string stream_failure_reason() {
    const int error = errno;
    if (error == 0) return {};
    return ": " + system_message(std::error_code(error, std::generic_category()));
}

// Closes a stream still open when an error leaves the scope, so no file is
// left open behind a reported failure.
class stream_closer {
public:
    explicit stream_closer(std::ofstream& out) : out_(out) {}
    ~stream_closer() {
        if (out_.is_open()) out_.close();
    }
    stream_closer(const stream_closer&) = delete;
    stream_closer& operator=(const stream_closer&) = delete;

private:
    std::ofstream& out_;
};
