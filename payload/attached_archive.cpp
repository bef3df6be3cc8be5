#include "payload/attached_archive.hpp"

#include <system_error>

#include "base/errors.hpp"
#include "base/exce.hpp"
#include "base/fs.hpp"

archive_region attached_archive_region(const volatile attached_archive_record& record,
                                       const std::filesystem::path& file,
                                       const std::string& shown) {
    // Volatile reads: the compiler saw zeros here, the attach step wrote after linking.
    const std::uint64_t offset = record.offset;
    const std::uint64_t size = record.size;
    if (size == 0)
        throw exce("could not find the game's archive in \"" + shown +
                   "\": the build never attached it to the launcher");
    std::error_code ec;
    const std::uintmax_t length = std::filesystem::file_size(file, ec);
    if (ec)
        throw exce("could not read the game's archive from \"" + shown +
                   "\": " + system_message(ec));
    if (length < offset || length - offset < size)
        throw exce("could not read the game's archive from \"" + shown + "\": the file is " +
                   std::to_string(length) + " bytes long, but the archive ends at byte " +
                   std::to_string(offset + size) +
                   ". The launcher is incomplete (was its download cut short?): get it again.");
    return {file, offset, size};
}

archive_region own_attached_archive(const payload_contents& contents) {
    if (!contents.attached)
        throw exce("could not find the game's archive in \"" + own_executable_name() +
                   "\": the launcher was built without a place for it");
    return attached_archive_region(*contents.attached, own_executable_path(),
                                   own_executable_name());
}
