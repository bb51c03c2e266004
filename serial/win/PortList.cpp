// The serial ports of a Windows machine: the Ports device class through SetupAPI, with the
// friendly names a person knows from Device Manager, and any further COM port the system
// registers in its serial-port map (virtual and emulated ports have no device entry).
// Remembering a port writes the wizard's PortId.
#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/win/Handles.h"
#include "serial/PortList.h"
#include "serial/PortNumber.h"
#include "serial/win/CommPort.h"
#include "serial/win/PortIo.h"

using common::win::UniqueRegKey;
using serial::win::SavePortId;

namespace serial {

namespace {

constexpr char kPortNameValue[] = "PortName";
constexpr char kSerialMapKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kNameBytes = 256;

std::string RegistryString(HKEY key, const char* value) {
    char text[kNameBytes] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return std::string(text);
}

void AddDeviceClassPorts(std::vector<PortInfo>* ports) {
    HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        UniqueRegKey key(SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
        if (!key) continue;
        const std::string name = RegistryString(key.Get(), kPortNameValue);
        if (ComPortNumber(name) == 0) continue;  // printer ports share the class
        char friendly[kNameBytes] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1, nullptr)) {
            friendly[0] = 0;
        }
        ports->push_back({name, friendly[0] != 0 ? friendly : name, {}, {}});
    }
    SetupDiDestroyDeviceInfoList(devices);
}

void AddMappedPorts(std::vector<PortInfo>* ports) {
    UniqueRegKey map;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialMapKey, 0, KEY_READ, map.Out()) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        char device[kNameBytes] = {};
        BYTE data[kNameBytes] = {};
        DWORD deviceSize = sizeof device;
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        LONG status = RegEnumValueA(map.Get(), i, device, &deviceSize, nullptr, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::string name(reinterpret_cast<const char*>(data));
        if (ComPortNumber(name) == 0) continue;
        const bool known = std::any_of(ports->begin(), ports->end(), [&](const PortInfo& p) { return p.name == name; });
        if (!known) ports->push_back({name, "Serial port " + name + " (" + device + ")", {}, {}});
    }
}

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
    std::vector<PortInfo> ports;
    AddDeviceClassPorts(&ports);
    AddMappedPorts(&ports);
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return ComPortNumber(a.name) < ComPortNumber(b.name); });
    return ports;
}

bool RememberPort(const std::string& name, std::string* error) {
    const int number = ComPortNumber(name);
    if (number == 0) {
        *error = "\"" + name + "\" is not a COM port name (COM7, 7 or \\\\.\\COM12)";
        return false;
    }
    // No dialog: the registry's complaint is not logged, only reported here.
    if (SavePortId(nullptr, number) != number) {
        *error = "the registry refused the setting: " + win::StatusFromError(GetLastError(), false).text;
        return false;
    }
    return true;
}

}  // namespace serial
