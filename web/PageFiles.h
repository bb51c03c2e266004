// The web board's page (its HTML, style and script), built into the program from web/page/
// so that the station serves it itself: no file is read at run time, nothing comes from
// another address.
#pragma once

#include <cstddef>
#include <string>

namespace web {

struct PageFile {
    const char* name;  // as it is asked for after "/": "index.html", "board.js", ...
    const char* data;
    size_t size;
};

extern const PageFile kPageFiles[];
extern const size_t kPageFileCount;

// The file of that name, or null.
const PageFile* FindPageFile(const std::string& name);
// Its Content-Type, from its ending.
const char* PageFileType(const std::string& name);

}  // namespace web
