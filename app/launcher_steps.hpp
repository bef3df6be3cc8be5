// app/: the wiring of the real start-up steps; the entry points call only this.
#pragma once

// Runs the launcher with its own path set and the platform's real calls; the
// entry points only hand over the instance handle.
int run_launcher(void* instance);
