#include <windows.h>

#include "app/launcher_steps.hpp"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return run_launcher(instance); }
