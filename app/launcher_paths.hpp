// app/: the launcher's own path set, formed from the compiled-in constants.
#pragma once

#include "base/paths.hpp"

// The launcher's own set, formed from the build's constants before the entry
// point runs and read-only afterwards.
const path_set& launcher_paths();
