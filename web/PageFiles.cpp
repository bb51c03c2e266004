// Looks the page's built-in files up by name (the bytes are in the build's PageFiles.cpp).
#include "web/PageFiles.h"

namespace web {

namespace {

bool EndsWith(const std::string& text, const char* ending) {
    const std::string tail(ending);
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

const PageFile* FindPageFile(const std::string& name) {
    for (size_t i = 0; i < kPageFileCount; ++i) {
        if (name == kPageFiles[i].name) return &kPageFiles[i];
    }
    return nullptr;
}

const char* PageFileType(const std::string& name) {
    if (EndsWith(name, ".html")) return "text/html; charset=utf-8";
    if (EndsWith(name, ".css")) return "text/css; charset=utf-8";
    if (EndsWith(name, ".js")) return "text/javascript; charset=utf-8";
    if (EndsWith(name, ".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

}  // namespace web
