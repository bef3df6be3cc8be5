#include "payload/install.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <unordered_set>

#include "base/durable.hpp"
#include "base/exce.hpp"
#include "base/fs.hpp"
#include "payload/entry_names.hpp"
#include "payload/extract.hpp"
#include "payload/stream_error.hpp"

namespace {

constexpr const char* stamp_header = "launcher-stamp ";

// The entry's name as the stamp keeps it: "/" between elements, "." and
// empty elements left out, a directory's trailing "/" kept.
std::string normal_name(const std::string& name, bool directory) {
    std::string normal;
    for (const std::string& element : name_elements(name, false, false))
        if (!element.empty() && element != ".") normal += element + "/";
    if (!directory && !normal.empty()) normal.pop_back();
    return normal;
}

// Every directory above `name` (and `name` itself when it is one), outermost first.
void add_directories(const std::string& name, std::vector<std::string>& directories,
                     std::unordered_set<std::string>& seen) {
    for (std::size_t end = name.find('/'); end != std::string::npos; end = name.find('/', end + 1)) {
        const std::string directory = name.substr(0, end + 1);
        if (seen.insert(entry_key(directory)).second) directories.push_back(directory);
    }
}

// One name a line: bytes a line cannot hold, and "%", as %XX.
std::string escaped(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == '%' || byte == 0x7F) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const std::string hex = text.substr(i + 1, 2);
        if (hex.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) return std::nullopt;
        out += static_cast<char>(std::stoi(hex, nullptr, 16));
        i += 2;
    }
    return out;
}

// A listed name is only ever deleted below the data directory.
bool safe_name(const std::string& name) {
    if (name.empty() || name == "/") return false;
    try {
        check_entry_name(name);
        return true;
    } catch (const exce&) {
        return false;
    }
}

std::unordered_set<std::string> keys_of(const std::vector<std::string>& names) {
    std::unordered_set<std::string> keys;
    for (const std::string& name : names) keys.insert(entry_key(name));
    return keys;
}

std::size_t depth(const std::string& directory) {
    return static_cast<std::size_t>(std::count(directory.begin(), directory.end(), '/'));
}

}  // namespace

install_stamp stamp_of(const payload_contents& contents, const std::string& identity) {
    install_stamp stamp{identity, {}, {}};
    std::unordered_set<std::string> seen_files;
    std::unordered_set<std::string> seen_directories;
    for (std::size_t i = 0; i < contents.entry_count; ++i) {
        const std::string name = contents.entries[i].name;
        const bool directory = !name.empty() && name.back() == '/';
        const std::string normal = normal_name(name, directory);
        if (normal.empty()) continue;
        add_directories(normal, stamp.directories, seen_directories);
        if (!directory && seen_files.insert(entry_key(normal)).second) stamp.files.push_back(normal);
    }
    return stamp;
}

install_stamp stamp_union(const install_stamp& a, const install_stamp& b,
                          const std::string& identity) {
    install_stamp joined{identity, a.files, a.directories};
    std::unordered_set<std::string> files = keys_of(a.files);
    std::unordered_set<std::string> directories = keys_of(a.directories);
    for (const std::string& file : b.files)
        if (files.insert(entry_key(file)).second) joined.files.push_back(file);
    for (const std::string& directory : b.directories)
        if (directories.insert(entry_key(directory)).second) joined.directories.push_back(directory);
    return joined;
}

bool stamp_is_current(const path_set& paths, const std::string& identity) {
    std::ifstream in(paths.stamp_path, std::ios::binary);
    const std::string expected = stamp_header + identity + "\n";
    std::string first(expected.size(), '\0');
    return in.read(&first[0], static_cast<std::streamsize>(first.size())) && first == expected;
}

std::optional<install_stamp> read_stamp(const path_set& paths) {
    std::ifstream in(paths.stamp_path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line.compare(0, std::string(stamp_header).size(), stamp_header) != 0)
        return std::nullopt;
    install_stamp stamp{line.substr(std::string(stamp_header).size()), {}, {}};
    while (std::getline(in, line)) {
        if (line.size() < 3 || line[1] != ' ') continue;
        const std::optional<std::string> name = unescaped(line.substr(2));
        if (!name || !safe_name(*name)) continue;
        const bool directory = name->back() == '/';
        if (line[0] == 'f' && !directory) stamp.files.push_back(*name);
        if (line[0] == 'd' && directory) stamp.directories.push_back(*name);
    }
    return stamp;
}

std::uint64_t stamp_size_bound(const install_stamp& stamp) {
    // Each line: its letter, a space, the escaped name, the line's end.
    constexpr std::uint64_t record_room = 64;
    std::uint64_t bytes = std::string(stamp_header).size() + stamp.identity.size() + 1;
    for (const std::string& directory : stamp.directories) bytes += 3 + escaped(directory).size();
    for (const std::string& file : stamp.files) bytes += 3 + escaped(file).size() + record_room;
    return bytes;
}

std::string stamp_temp_path(const path_set& paths) { return paths.stamp_path + ".writing"; }

void write_stamp(const path_set& paths, const install_stamp& stamp) {
    const std::string temporary = stamp_temp_path(paths);
    {
        errno = 0;
        std::ofstream out(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
        if (out.is_open()) {
            out << stamp_header << stamp.identity << "\n";
            for (const std::string& directory : stamp.directories) out << "d " << escaped(directory) << "\n";
            for (const std::string& file : stamp.files) out << "f " << escaped(file) << "\n";
            out.close();
        }
        if (!out) throw exce("could not write the install stamp \"" + temporary + "\"" +
                             stream_failure_reason());
    }
    // On the disk before its rename, and the rename on the disk before anything
    // that follows: a power cut leaves the old stamp or this one, whole.
    flush_file(temporary);
    rename_durably(temporary, paths.stamp_path);
}

void remove_listed(const path_set& paths, const install_stamp& listed, const install_stamp& keep,
                   progress_pacer& pacer) {
    const std::unordered_set<std::string> kept_files = keys_of(keep.files);
    for (const std::string& file : listed.files) {
        pacer.tick();
        if (kept_files.count(entry_key(file))) continue;
        const std::string path = paths.data_dir + file;
        // Only a file goes: what stands there now may be a player's folder.
        if (!regular_file_size(path)) continue;
        try {
            remove_path(path);
        } catch (const file_system_error&) {
            if (file_in_use(path)) throw exce(in_use_message(path));
            throw;
        }
    }
    const std::unordered_set<std::string> kept_directories = keys_of(keep.directories);
    std::vector<std::string> directories = listed.directories;
    std::stable_sort(directories.begin(), directories.end(),
                     [](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
    for (const std::string& directory : directories) {
        pacer.tick();
        if (!kept_directories.count(entry_key(directory)))
            remove_empty_directory(paths.data_dir + directory);
    }
}

std::string in_use_message(const std::string& path) {
    return "could not replace \"" + path +
           "\": the game is running and holds it. Close the game, then start again.";
}
