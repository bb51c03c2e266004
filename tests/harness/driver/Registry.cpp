// Registry commands of the driver: read, write, delete and lock the key that holds the
// program's remembered port. Locking uses an empty access list, which the Wine server
// enforces like Windows does.
#include "tests/harness/driver/Registry.h"

#include <windows.h>

namespace {

constexpr const char kParentPath[] = "SOFTWARE\\Quorvanta";
constexpr const char kKeyName[] = "TZ615CommPort";
constexpr const char kKeyPath[] = "SOFTWARE\\Quorvanta\\TZ615CommPort";
constexpr const char kValueName[] = "PortId";

JsonObject Result(LONG status) {
    JsonObject reply;
    reply.Add("ok", status == ERROR_SUCCESS).Add("status", static_cast<long long>(status));
    return reply;
}

// Removes a denying access list first, so a locked key can be reset between tests.
void UnblockKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);  // null list: all access
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(key);
}

LONG CreateKey(HKEY& key) {
    UnblockKey();
    return RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &key, nullptr);
}

}  // namespace

JsonObject RegistryGetPort() {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key);
    JsonObject reply;
    reply.Add("ok", true).Add("key_exists", status == ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) return reply.Add("open_status", static_cast<long long>(status));
    BYTE data[256] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    status = RegQueryValueExA(key, kValueName, nullptr, &type, data, &size);
    RegCloseKey(key);
    reply.Add("value_exists", status == ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) return reply;
    reply.Add("type", static_cast<long long>(type));
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        memcpy(&value, data, sizeof value);
        reply.Add("value", static_cast<long long>(value));
    } else {
        reply.Add("data", std::string(reinterpret_cast<char*>(data), size));
    }
    return reply;
}

JsonObject RegistrySetPort(unsigned long value) {
    HKEY key = nullptr;
    LONG status = CreateKey(key);
    if (status != ERROR_SUCCESS) return Result(status);
    DWORD data = value;
    status = RegSetValueExA(key, kValueName, 0, REG_DWORD, reinterpret_cast<BYTE*>(&data), sizeof data);
    RegCloseKey(key);
    return Result(status);
}

JsonObject RegistrySetPortText(const std::string& value) {
    HKEY key = nullptr;
    LONG status = CreateKey(key);
    if (status != ERROR_SUCCESS) return Result(status);
    status = RegSetValueExA(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return Result(status);
}

JsonObject RegistryDeletePortValue() {
    UnblockKey();
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) return Result(status == ERROR_FILE_NOT_FOUND ? 0 : status);
    status = RegDeleteValueA(key, kValueName);
    RegCloseKey(key);
    return Result(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
}

JsonObject RegistryDeletePortKey() {
    UnblockKey();
    HKEY parent = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, kParentPath, 0, KEY_ALL_ACCESS, &parent);
    if (status == ERROR_FILE_NOT_FOUND) return Result(ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) return Result(status);
    status = RegDeleteKeyA(parent, kKeyName);
    RegCloseKey(parent);
    return Result(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
}

JsonObject RegistryBlockPortKey() {
    HKEY key = nullptr;
    LONG status = CreateKey(key);
    if (status != ERROR_SUCCESS) return Result(status);
    SECURITY_DESCRIPTOR descriptor;
    ACL emptyList;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&emptyList, sizeof emptyList, ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyList, FALSE);
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return Result(status);
    // Confirm the lock holds: a plain open for reading must now fail.
    HKEY probe = nullptr;
    LONG probeStatus = RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &probe);
    if (probeStatus == ERROR_SUCCESS) RegCloseKey(probe);
    JsonObject reply;
    reply.Add("ok", probeStatus != ERROR_SUCCESS).Add("status", static_cast<long long>(probeStatus));
    return reply;
}
