#include "app/launcher_steps.hpp"

int main() { return run_launcher(nullptr); }
