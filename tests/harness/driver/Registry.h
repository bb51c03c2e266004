// The program's remembered port under HKCU, set and broken by tests before a start.
#pragma once
#include <string>

#include "tests/harness/driver/Json.h"

JsonObject RegistryGetPort();
JsonObject RegistrySetPort(unsigned long value);
JsonObject RegistrySetPortText(const std::string& value);
JsonObject RegistryDeletePortValue();
JsonObject RegistryDeletePortKey();
// Leaves the key in place but denies every access to it, so the program cannot open it.
JsonObject RegistryBlockPortKey();
