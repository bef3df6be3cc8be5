#pragma once

#include <functional>
#include <string>

// The demo game that the launcher carries by default. It writes what it
// received to "game-record.txt" in its current directory, then shows it:
// in a window that closes itself after a few seconds, or on standard output.

// How long the window stays: DEMO_GAME_SECONDS if set, else 6 s.
int demo_seconds();

// Shows `text` under `title` for `seconds` seconds (platform file), calling
// `shown` with "window" once a window is up, or "terminal" when there is no
// display to open one on.
void show_text(const std::string& title, const std::string& text, int seconds,
               const std::function<void(const char*)>& shown);

// Platform facts for the record (platform file).
std::string current_directory();
std::string whole_command_line();  // empty where there is none
bool file_exists(const std::string& path);
long process_id();
