// The remembered port in the registry: first run, stored values, a missing value and a
// key that cannot be opened or created. Uses a key of its own, never the real one.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/DialogIds.h"
#include "app/win/DialogActivityView.h"
#include "tests/win/ListLines.h"
#include "serial/win/CommPort.h"

using serial::win::LoadPortId;
using serial::win::SavePortId;
using serial::win::SetPortIdLocation;

namespace {

class PortRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        key_ = "SOFTWARE\\VarnexShellTest\\Port" + std::to_string(GetCurrentProcessId());
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
        SetPortIdLocation(HKEY_CURRENT_USER, key_.c_str());
        host_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
        list_ = CreateWindowExA(0, "LISTBOX", "", WS_CHILD, 0, 0, 200, 100, host_,
                                reinterpret_cast<HMENU>(IDC_LOG_LIST), GetModuleHandleA(nullptr), nullptr);
        view_.ShowIn(host_);
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\VarnexShellTest");
        SetPortIdLocation(HKEY_CURRENT_USER, "SOFTWARE\\Quorvanta\\TZ615CommPort");
        DestroyWindow(host_);
    }

    void Store(DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        if (data != nullptr) {
            EXPECT_EQ(RegSetValueExA(key, "PortId", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }
    bool Read(DWORD* value) {
        DWORD size = sizeof *value;
        return RegGetValueA(HKEY_CURRENT_USER, key_.c_str(), "PortId", RRF_RT_REG_DWORD, nullptr, value, &size) ==
               ERROR_SUCCESS;
    }
    std::vector<std::string> Lines() const { return ListLines(list_); }

    std::string key_;
    DialogActivityView view_{nullptr};
    HWND host_ = nullptr;
    HWND list_ = nullptr;
};

TEST_F(PortRegistry, FirstRunCreatesTheKeyWithPortOne) {
    EXPECT_EQ(LoadPortId(&view_), 1);
    DWORD value = 0;
    ASSERT_TRUE(Read(&value));
    EXPECT_EQ(value, 1u);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(LoadPortId(&view_), 1);  // the second run reads it back
}

TEST_F(PortRegistry, StoredValuesComeBackUnclamped) {
    for (DWORD stored : {3u, 7u, 0u, 0xFFFFFFFFu}) {
        Store(REG_DWORD, &stored, sizeof stored);
        EXPECT_EQ(LoadPortId(&view_), static_cast<int>(stored));
    }
    EXPECT_TRUE(Lines().empty());
}

TEST_F(PortRegistry, SaveWritesTheNumberAndCreatesAMissingKey) {
    EXPECT_EQ(SavePortId(&view_, 2), 2);  // no key yet
    DWORD value = 0;
    ASSERT_TRUE(Read(&value));
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(SavePortId(&view_, 12), 12);
    ASSERT_TRUE(Read(&value));
    EXPECT_EQ(value, 12u);
    EXPECT_EQ(LoadPortId(&view_), 12);
}

TEST_F(PortRegistry, KeyWithoutValueIsLoggedAndNotRepaired) {
    Store(REG_DWORD, nullptr, 0);
    EXPECT_EQ(LoadPortId(&view_), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "RegQueryValueEx failed.");
    EXPECT_NE(lines[1].find_first_not_of(" \r\n"), std::string::npos);  // the reason, in words
    DWORD value = 0;
    EXPECT_FALSE(Read(&value));
}

TEST_F(PortRegistry, ValueTooLongForFourBytesIsARefusedRead) {
    const char text[] = "COM3 please";
    Store(REG_SZ, text, sizeof text);
    EXPECT_EQ(LoadPortId(&view_), 0);
    ASSERT_FALSE(Lines().empty());
    EXPECT_EQ(Lines()[0], "RegQueryValueEx failed.");
}

TEST_F(PortRegistry, KeyThatCannotBeOpenedOrCreatedIsLoggedAndGivesZero) {
    SetPortIdLocation(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7654321)), "Nowhere");
    EXPECT_EQ(LoadPortId(&view_), 0);
    EXPECT_EQ(SavePortId(&view_, 3), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "RegCreateKeyEx failed.");
    EXPECT_EQ(lines[2], "RegCreateKeyEx failed.");
    EXPECT_EQ(lines[1].rfind("Error ", 0), std::string::npos);  // a real system reason
    // Without a view (the command line's case) only the last error tells why.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SavePortId(nullptr, 3), 0);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Lines().size(), 4u);
}

}  // namespace
