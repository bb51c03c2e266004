// The remembered port number in the current user's registry. Failures are logged with the
// status the registry call returned (it is also left as the thread's last error), so the
// system text on the log line names the real cause.
#include <cstdint>

#include "common/win/ActivityLog.h"
#include "serial/win/CommPort.h"

namespace {

constexpr const char kPortIdKey[] = "SOFTWARE\\Quorvanta\\TZ615CommPort";
constexpr const char kPortIdValue[] = "PortId";
constexpr DWORD kDefaultPortId = 1;

HKEY PortIdRoot = HKEY_CURRENT_USER;
const char* PortIdSubKey = kPortIdKey;

// Closes an open registry key on leaving scope.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

LONG OpenKey(RegistryKey& key) { return RegOpenKeyExA(PortIdRoot, PortIdSubKey, 0, KEY_ALL_ACCESS, key.Out()); }

LONG CreateKey(RegistryKey& key) {
    return RegCreateKeyExA(PortIdRoot, PortIdSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           key.Out(), nullptr);
}

LONG WritePortId(const RegistryKey& key, DWORD value) {
    return RegSetValueExA(key.Get(), kPortIdValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

int Fail(HWND dialog, LONG status, const char* text) {
    SetLastError(static_cast<DWORD>(status));
    LogMessage(dialog, static_cast<DWORD>(status), "%s", text);
    return 0;
}

}  // namespace

void SetPortIdLocation(HKEY root, const char* subKey) {
    PortIdRoot = root;
    PortIdSubKey = subKey;
}

int LoadPortId(HWND dialog) {
    RegistryKey key;
    if (OpenKey(key) == ERROR_SUCCESS) {
        // The stored type is not examined; a shorter value leaves the rest of the default.
        DWORD value = kDefaultPortId;
        DWORD size = sizeof value;
        LONG status = RegQueryValueExA(key.Get(), kPortIdValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        if (status != ERROR_SUCCESS) return Fail(dialog, status, "RegQueryValueEx failed.");
        return static_cast<int>(value);
    }
    LONG status = CreateKey(key);
    if (status != ERROR_SUCCESS) return Fail(dialog, status, "RegCreateKeyEx failed.");
    status = WritePortId(key, kDefaultPortId);
    if (status != ERROR_SUCCESS) return Fail(dialog, status, "RegSetValueEx failed.");
    return static_cast<int>(kDefaultPortId);
}

int SavePortId(HWND dialog, int portNumber) {
    RegistryKey key;
    if (OpenKey(key) != ERROR_SUCCESS) {
        LONG status = CreateKey(key);
        if (status != ERROR_SUCCESS) return Fail(dialog, status, "RegCreateKeyEx failed.");
    }
    LONG status = WritePortId(key, static_cast<DWORD>(portNumber));
    if (status != ERROR_SUCCESS) return Fail(dialog, status, "RegSetValueEx failed.");
    return portNumber;
}
