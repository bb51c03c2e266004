// The embedded images on Windows: EMBEDDED_FILE resources of the program's own module, the
// same resources the wizard carries, used where the loader maps them.
#include <windows.h>

#include "cli/Images.h"

namespace cli {

bool EmbeddedImage(const char* name, ImageBytes* image) {
    HRSRC found = FindResourceA(nullptr, name, "EMBEDDED_FILE");
    if (found == nullptr) return false;
    DWORD size = SizeofResource(nullptr, found);
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return false;
    *image = {static_cast<const uint8_t*>(data), static_cast<uint32_t>(size)};
    return true;
}

}  // namespace cli
