// A stand-in game: records how it was started in "game-record.txt" in its
// current directory, then exits.
//   command_line=<the whole command line, Windows only>
//   argc=<n>
//   argv1=<first argument>
//   cwd=<current directory>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
    std::string command_line;
    std::string cwd;
#ifdef _WIN32
    command_line = GetCommandLineA();
    char buffer[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof buffer, buffer);
    cwd = buffer;
#else
    char buffer[4096] = {};
    if (getcwd(buffer, sizeof buffer)) cwd = buffer;
#endif
    FILE* record = std::fopen("game-record.txt", "wb");
    if (!record) return 1;
    std::fprintf(record, "command_line=%s\nargc=%d\nargv0=%s\nargv1=%s\ncwd=%s\n",
                 command_line.c_str(), argc, argc > 0 ? argv[0] : "", argc > 1 ? argv[1] : "",
                 cwd.c_str());
    std::fclose(record);
    return 0;
}
