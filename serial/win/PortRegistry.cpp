// The remembered port number in the current user's registry. Failures are logged with the
// status the registry call returned (it is also left as the thread's last error), so the
// system text on the log line names the real cause.
#include <cstdint>

#include "common/win/Handles.h"
#include "serial/win/CommPort.h"

namespace serial::win {

namespace {

using common::win::ActivityView;
using common::win::UniqueRegKey;

constexpr const char kPortIdKey[] = "SOFTWARE\\Quorvanta\\TZ615CommPort";
constexpr const char kPortIdValue[] = "PortId";
constexpr DWORD kDefaultPortId = 1;

HKEY PortIdRoot = HKEY_CURRENT_USER;
const char* PortIdSubKey = kPortIdKey;

LONG OpenKey(UniqueRegKey& key) { return RegOpenKeyExA(PortIdRoot, PortIdSubKey, 0, KEY_ALL_ACCESS, key.Out()); }

LONG CreateKey(UniqueRegKey& key) {
    return RegCreateKeyExA(PortIdRoot, PortIdSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           key.Out(), nullptr);
}

LONG WritePortId(const UniqueRegKey& key, DWORD value) {
    return RegSetValueExA(key.Get(), kPortIdValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

int Fail(ActivityView* view, LONG status, const char* text) {
    if (view != nullptr) LogLine(*view, static_cast<DWORD>(status), "%s", text);
    SetLastError(static_cast<DWORD>(status));
    return 0;
}

}  // namespace

void SetPortIdLocation(HKEY root, const char* subKey) {
    PortIdRoot = root;
    PortIdSubKey = subKey;
}

int LoadPortId(ActivityView* view) {
    UniqueRegKey key;
    if (OpenKey(key) == ERROR_SUCCESS) {
        // The stored type is not examined; a shorter value leaves the rest of the default.
        DWORD value = kDefaultPortId;
        DWORD size = sizeof value;
        LONG status =
            RegQueryValueExA(key.Get(), kPortIdValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        if (status != ERROR_SUCCESS) return Fail(view, status, "RegQueryValueEx failed.");
        return static_cast<int>(value);
    }
    LONG status = CreateKey(key);
    if (status != ERROR_SUCCESS) return Fail(view, status, "RegCreateKeyEx failed.");
    status = WritePortId(key, kDefaultPortId);
    if (status != ERROR_SUCCESS) return Fail(view, status, "RegSetValueEx failed.");
    return static_cast<int>(kDefaultPortId);
}

int SavePortId(ActivityView* view, int portNumber) {
    UniqueRegKey key;
    if (OpenKey(key) != ERROR_SUCCESS) {
        LONG status = CreateKey(key);
        if (status != ERROR_SUCCESS) return Fail(view, status, "RegCreateKeyEx failed.");
    }
    LONG status = WritePortId(key, static_cast<DWORD>(portNumber));
    if (status != ERROR_SUCCESS) return Fail(view, status, "RegSetValueEx failed.");
    return portNumber;
}

}  // namespace serial::win
