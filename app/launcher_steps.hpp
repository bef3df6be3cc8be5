#pragma once

// Runs the launcher with its own path set and the platform's real calls; the
// entry points only hand over the instance handle.
int run_launcher(void* instance);
