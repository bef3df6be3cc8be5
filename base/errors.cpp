#include "base/errors.hpp"

file_system_error::file_system_error(const std::string& operation, const std::string& narrow_path,
                                     const std::filesystem::path& path, std::error_code ec)
    : std::filesystem::filesystem_error(operation, path, ec),
      text_(operation + ": " + system_message(ec) + ": \"" + narrow_path + "\"") {}

system_failure::system_failure(const std::string& context, std::error_code ec)
    : std::system_error(ec, context), text_(context + ": " + system_message(ec)) {}
