#include "app/exce.hpp"
#include "payload/payload.hpp"

// This build carries no game archive yet.
void write_temp_archive(const path_set&, std::ofstream&) {}

void extract_archive(const path_set&, std::ofstream&) {
    throw exce("this launcher carries no game to unpack");
}
