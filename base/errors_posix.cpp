// POSIX: the C library's text for an error code is the system's own.
#include "base/errors.hpp"

std::string system_message(std::error_code ec) { return ec.message(); }
