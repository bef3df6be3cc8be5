// Windows: both slashes separate, case does not count, and trailing dots and
// spaces are dropped from a name.
#include "payload/entry_names.hpp"

#include <cctype>

bool separates_elements(char c) { return c == '/' || c == '\\'; }

std::string folded_element(std::string element) {
    for (char& c : element) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return element;
}

// ".. " may be "..": any element of dots and spaces that starts with ".." climbs out.
bool climbs_out(const std::string& element) {
    if (element.compare(0, 2, "..") != 0) return false;
    for (const char c : element)
        if (c != '.' && c != ' ') return false;
    return true;
}
