// What the records tests share: a folder of their own, removed whatever the test left in it
// (a read-only file or folder included), and a row as a station begins it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "records/RecordStore.h"

namespace fixture {

struct Folder {
    std::filesystem::path path;
    Folder() {
        char name[] = "/tmp/varnex-records-XXXXXX";
        path = mkdtemp(name);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    std::string File(const char* name = "records.db") const { return (path / name).string(); }
};

inline records::Row Sample(const std::string& port, uint32_t unit) {
    records::Row row;
    row.startedAt = "2026-12-08T06:18:09.123Z";
    row.station = "bench-3";
    row.port = port;
    row.operation = "bootloader";
    row.image = "BOOTLOADER";
    row.imageSize = 249008;
    row.imageSha256 = std::string(64, 'a');
    row.baud = 115200;
    row.unit = unit;
    row.version = "1.2.3";
    return row;
}

}  // namespace fixture
