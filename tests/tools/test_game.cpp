// A stand-in game: records how it was started in "game-record.txt" in its
// current directory, leaves a file "game-start-<process id>.txt" there (so
// tests can count the starts of several launchers: one file each, since
// appending to one file is not atomic on Windows), then exits.
//   command_line=<the whole command line, Windows only>
//   argc=<n>
//   argv1=<first argument>
//   cwd=<current directory>
//   started_unix_ns=<wall-clock time at start, nanoseconds since 1970>
#include <cstdint>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

namespace {

// Wall-clock time, which wine shares with the host: a benchmark compares it
// with the moment it started the launcher.
std::int64_t unix_time_ns() {
#ifdef _WIN32
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000LL) * 100;
#else
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t started = unix_time_ns();
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
    std::fprintf(record, "command_line=%s\nargc=%d\nargv0=%s\nargv1=%s\ncwd=%s\nstarted_unix_ns=%lld\n",
                 command_line.c_str(), argc, argc > 0 ? argv[0] : "", argc > 1 ? argv[1] : "",
                 cwd.c_str(), static_cast<long long>(started));
    std::fclose(record);
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    const std::string start_name = "game-start-" + std::to_string(pid) + ".txt";
    FILE* start = std::fopen(start_name.c_str(), "wb");
    if (!start) return 1;
    std::fprintf(start, "started_unix_ns=%lld\n", static_cast<long long>(started));
    std::fclose(start);
    return 0;
}
