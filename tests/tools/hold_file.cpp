// Holds a file open without sharing it, as a running game holds its own
// files, until killed or the given time is up.
//   hold_file.exe <file> <milliseconds> <ready file>
// The ready file is written once the file is held.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const HANDLE held = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    FILE* ready = std::fopen(argv[3], "wb");
    if (ready) std::fclose(ready);
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    CloseHandle(held);
    return 0;
}
