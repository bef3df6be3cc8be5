// payload/: the directories one unpacking has made or found.
#pragma once

#include <string>
#include <unordered_set>

// The directories one unpacking has made or found, by the accumulated
// "./"-prefixed texts create_parent_directories walks ("./", "./data/", ...).
// Nobody else changes the data directory while it is being unpacked, so a
// directory once seen need not be tested again. A text not remembered is only
// tested again, so different spellings of one directory stay correct.
class directory_memo {
public:
    bool contains(const std::string& directory) const { return known_.count(directory) != 0; }
    void add(const std::string& directory) { known_.insert(directory); }

private:
    std::unordered_set<std::string> known_;
};

// create_parent_directories, testing only the directories `known` does not
// hold yet and remembering every one it makes or finds there.
void create_parent_directories(const std::string& path, directory_memo& known);
