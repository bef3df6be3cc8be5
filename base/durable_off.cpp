// A launcher built without LAUNCHER_FLUSH_TO_DISK, for measuring what the
// flush costs: nothing is asked of the disk, and the stamp is renamed plainly.
#include "base/durable.hpp"
#include "base/fs.hpp"

namespace {

class no_flush final : public disk_flush {
public:
    void begin(const std::string&) override {}
    void finish(const std::string&, const std::function<void()>&) override {}
};

}  // namespace

disk_flush& platform_disk_flush() {
    static no_flush flush;
    return flush;
}

void flush_file(const std::string&) {}

void rename_durably(const std::string& from, const std::string& to) { rename_path(from, to); }
