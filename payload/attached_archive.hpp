// payload/: finding the archive the build attached to the launcher's own file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "payload/archive_file.hpp"
#include "payload/contents.hpp"

// The archive's region in `file` (named `shown` in messages), as `record`
// says, once the file is known to hold all of it. Throws exce naming the
// file when the record was never written (the build did not attach the
// archive) or when the file ends before the archive does (a cut download).
archive_region attached_archive_region(const volatile attached_archive_record& record,
                                       const std::filesystem::path& file,
                                       const std::string& shown);

// The same for the launcher's own file, on the file home.
archive_region own_attached_archive(const payload_contents& contents);
