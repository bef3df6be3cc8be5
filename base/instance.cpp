#include "base/instance.hpp"

namespace {
void* stored_instance = nullptr;
}

void store_instance(void* instance) { stored_instance = instance; }

void* instance_slot() { return stored_instance; }
