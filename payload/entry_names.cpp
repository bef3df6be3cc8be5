#include "payload/entry_names.hpp"

#include <cctype>

#include "base/exce.hpp"

std::vector<std::string> name_elements(const std::string& name, bool any_separator,
                                       bool files_only) {
    std::vector<std::string> elements;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = start;
        while (end < name.size() &&
               !(any_separator ? name[end] == '/' || name[end] == '\\' : separates_elements(name[end])))
            ++end;
        std::string element = name.substr(start, end - start);
        if (!files_only)
            elements.push_back(element);
        else if (!element.empty() && element != ".")
            elements.push_back(folded_element(element));
        start = end + 1;
    }
    return elements;
}

void check_entry_name(const std::string& name) {
    if (name.empty()) throw exce("refused an archive entry with an empty name");
    const bool absolute = name[0] == '/' || name[0] == '\\';
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       std::isalpha(static_cast<unsigned char>(name[0]));
    bool parent = false;
    for (const std::string& element : name_elements(name, true, false))
        parent = parent || climbs_out(element);
    if (absolute || drive || parent)
        throw exce("refused archive entry \"" + name +
                   "\": it would be written outside the data directory");
}

std::string executable_entry_name(const path_set& paths) {
    if (paths.exe_path.compare(0, paths.data_dir.size(), paths.data_dir) != 0) return {};
    std::string name = paths.exe_path.substr(paths.data_dir.size());
    if (name.compare(0, 2, "./") == 0) name.erase(0, 2);
    return name;
}

bool same_entry_file(const std::string& name, const std::string& other) {
    return name_elements(name, false, true) == name_elements(other, false, true);
}

std::string entry_key(const std::string& name) {
    std::string key;
    for (const std::string& element : name_elements(name, false, true))
        key += (key.empty() ? "" : "/") + element;
    return key;
}
