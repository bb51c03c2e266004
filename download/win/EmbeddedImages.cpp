// The embedded images on Windows: EMBEDDED_FILE resources of the program's own module,
// used where the loader maps them (see EmbeddedImages.h).
#include <windows.h>

#include "download/EmbeddedImages.h"

namespace download {

namespace {
constexpr char kResourceType[] = "EMBEDDED_FILE";
}  // namespace

ImageLookup FindEmbeddedImage(const char* name, ImageBytes* image) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, name, kResourceType);
    if (resource == nullptr) return ImageLookup::NotFound;
    DWORD size = SizeofResource(module, resource);
    if (size == 0) return ImageLookup::Empty;
    image->size = static_cast<uint32_t>(size);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return ImageLookup::NotLoaded;
    const void* locked = LockResource(loaded);
    if (locked == nullptr) return ImageLookup::NotLocked;
    image->data = static_cast<const uint8_t*>(locked);
    return ImageLookup::Found;
}

}  // namespace download
