#include "demo/game.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

int demo_seconds() {
    const char* value = std::getenv("DEMO_GAME_SECONDS");
    if (value && *value) return std::atoi(value);
    return 6;
}

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "";
    const std::string map = argc > 1 ? argv[1] : "";
    const bool map_found = !map.empty() && file_exists(map);

    // Written first, so a script can tell what the game received even while
    // its window is still open.
    if (FILE* record = std::fopen("game-record.txt", "wb")) {
        std::fprintf(record,
                     "program=%s\nmap=%s\nmap_found=%s\nargc=%d\ncwd=%s\ncommand_line=%s\npid=%ld\n",
                     program.c_str(), map.c_str(), map_found ? "yes" : "no", argc,
                     current_directory().c_str(), whole_command_line().c_str(), process_id());
        std::fclose(record);
    }

    std::string text = "Quill Mark demo game\n\nStart-up map:\n" +
                       (map.empty() ? std::string("(none given)") : map) + "\n" +
                       (map_found ? "(the map file is there)" : "(no map file at that path)");
    show_text("Quill Mark (demo)", text, demo_seconds(), [](const char* how) {
        if (FILE* record = std::fopen("game-record.txt", "ab")) {
            std::fprintf(record, "shown=%s\n", how);
            std::fclose(record);
        }
    });
    return map_found ? 0 : 2;
}
