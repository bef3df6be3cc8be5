#include "base/durable.hpp"

written_files::written_files(disk_flush& flush) : flush_(flush) {}

void written_files::wrote(const std::string& path) {
    flush_.begin(path);
    paths_.push_back(path);
}

void written_files::flush_all(progress_pacer& pacer) {
    const auto tick = [&pacer] { pacer.tick(); };
    // In the order written: the oldest has had the longest to get there.
    for (const std::string& path : paths_) {
        flush_.finish(path, tick);
        pacer.tick();
    }
    paths_.clear();
}
