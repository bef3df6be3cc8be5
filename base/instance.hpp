#pragma once

// The module instance handle the platform passed to the entry point, kept for
// the whole run: the window watch loads the launcher's icon from it. Written
// once, by the start-up sequence, before anything else.
void store_instance(void* instance);
void* instance_slot();
