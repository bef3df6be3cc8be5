// POSIX: names are bytes, "/" alone separates, and case counts.
#include "payload/entry_names.hpp"

bool separates_elements(char c) { return c == '/'; }

std::string folded_element(std::string element) { return element; }

bool climbs_out(const std::string& element) { return element == ".."; }
