// Move-only owners for Win32 handles, named for their empty value, so that no raw
// CloseHandle appears anywhere else in the program.
#pragma once
#include <windows.h>

#include <utility>

namespace common::win {

template <HANDLE (*Empty)()>
class UniqueHandleT {
public:
    UniqueHandleT() = default;
    explicit UniqueHandleT(HANDLE h) : handle_(h) {}
    ~UniqueHandleT() { Reset(); }
    UniqueHandleT(const UniqueHandleT&) = delete;
    UniqueHandleT& operator=(const UniqueHandleT&) = delete;
    UniqueHandleT(UniqueHandleT&& other) noexcept : handle_(other.Release()) {}
    UniqueHandleT& operator=(UniqueHandleT&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Empty() && handle_ != nullptr; }
    HANDLE Release() { return std::exchange(handle_, Empty()); }
    // Closes the held handle; returns what CloseHandle returned (TRUE when nothing was held).
    BOOL Reset(HANDLE h = Empty()) {
        BOOL ok = TRUE;
        if (handle_ != Empty() && handle_ != nullptr) ok = ::CloseHandle(handle_);
        handle_ = h;
        return ok;
    }

private:
    HANDLE handle_ = Empty();
};

inline HANDLE NullHandleValue() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

// Events, threads: empty is null.
using UniqueNullHandle = UniqueHandleT<NullHandleValue>;
// Files and devices from CreateFile: empty is INVALID_HANDLE_VALUE.
using UniqueFileHandle = UniqueHandleT<InvalidHandleValue>;

// An auto-reset, unnamed, non-signalled event, as every overlapped record here uses.
inline UniqueNullHandle MakeAutoResetEvent() {
    return UniqueNullHandle(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

// An open registry key; empty is null. Keys that a call could not open are never closed.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    explicit UniqueRegKey(HKEY key) : key_(key == INVALID_HANDLE_VALUE ? nullptr : key) {}
    ~UniqueRegKey() { Reset(); }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // Closes any held key and gives the place for a call to open a new one into.
    HKEY* Out() {
        Reset();
        return &key_;
    }
    void Reset() {
        if (key_ != nullptr) ::RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace common::win
