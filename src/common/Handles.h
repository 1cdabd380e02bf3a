// Owners for Win32 resources: one small type per handle family, each knowing its invalid value.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <cstdio>
#include <utility>

// With UNICODE the SDK headers map GetEnvironmentStrings to the wide call and leave the 8-bit one undeclared.
extern "C" __declspec(dllimport) LPCH WINAPI GetEnvironmentStringsA(void);

namespace vexlo {

// Puts GetLastError() back as it was when the guard was made, for code that must not change the error a
// caller reads next.
class LastErrorGuard {
public:
    LastErrorGuard() noexcept : saved_(GetLastError()) {}
    ~LastErrorGuard() { SetLastError(saved_); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

private:
    DWORD saved_;
};

template <typename Traits>
class unique_resource {
public:
    using pointer = typename Traits::type;

    unique_resource() noexcept : value_(Traits::invalid()) {}
    explicit unique_resource(pointer value) noexcept : value_(value) {}
    unique_resource(const unique_resource&) = delete;
    unique_resource& operator=(const unique_resource&) = delete;
    unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
    unique_resource& operator=(unique_resource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_resource() { reset(); }

    pointer get() const noexcept { return value_; }
    bool valid() const noexcept { return Traits::isValid(value_); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    // The close leaves GetLastError() as it was, so an error read after an owner went out of scope is the
    // caller's own.
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (Traits::isValid(old)) {
            LastErrorGuard keepError;
            Traits::close(old);
        }
    }
    // Releases the current value and hands out the address for an out-parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_;
};

struct HandleTraits {
    using type = HANDLE;
    static HANDLE invalid() noexcept { return nullptr; }
    static bool isValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { CloseHandle(h); }
};

struct FileTraits : HandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

struct FindTraits {
    using type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool isValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { FindClose(h); }
};

struct HkeyTraits {
    using type = HKEY;
    static HKEY invalid() noexcept { return nullptr; }
    // Predefined roots are never closed. On 64-bit they are sign-extended (HKEY_LOCAL_MACHINE is
    // 0xFFFFFFFF80000002), so they are compared as the HKEY values themselves, not as numbers.
    static bool isValid(HKEY k) noexcept { return k != nullptr && !isPredefinedRoot(k); }
    static bool isPredefinedRoot(HKEY k) noexcept {
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_PERFORMANCE_DATA,
                          HKEY_PERFORMANCE_TEXT, HKEY_PERFORMANCE_NLSTEXT, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,
                          HKEY_CURRENT_USER_LOCAL_SETTINGS}) {
            if (k == root) return true;
        }
        return false;
    }
    static void close(HKEY k) noexcept { RegCloseKey(k); }
};

struct ScHandleTraits {
    using type = SC_HANDLE;
    static SC_HANDLE invalid() noexcept { return nullptr; }
    static bool isValid(SC_HANDLE h) noexcept { return h != nullptr; }
    static void close(SC_HANDLE h) noexcept { CloseServiceHandle(h); }
};

struct ModuleTraits {
    using type = HMODULE;
    static HMODULE invalid() noexcept { return nullptr; }
    static bool isValid(HMODULE h) noexcept { return h != nullptr; }
    static void close(HMODULE h) noexcept { FreeLibrary(h); }
};

template <typename T>
struct LocalTraits {
    using type = T*;
    static T* invalid() noexcept { return nullptr; }
    static bool isValid(T* p) noexcept { return p != nullptr; }
    static void close(T* p) noexcept { LocalFree(reinterpret_cast<HLOCAL>(p)); }
};

struct CFileTraits {
    using type = FILE*;
    static FILE* invalid() noexcept { return nullptr; }
    static bool isValid(FILE* f) noexcept { return f != nullptr; }
    static void close(FILE* f) noexcept { std::fclose(f); }
};

struct EventSourceTraits {
    using type = HANDLE;
    static HANDLE invalid() noexcept { return nullptr; }
    static bool isValid(HANDLE h) noexcept { return h != nullptr; }
    static void close(HANDLE h) noexcept { DeregisterEventSource(h); }
};

template <typename Char>
struct EnvironmentStringsTraits {
    using type = Char*;
    static Char* invalid() noexcept { return nullptr; }
    static bool isValid(Char* p) noexcept { return p != nullptr; }
    static void close(char* p) noexcept { FreeEnvironmentStringsA(p); }
    static void close(wchar_t* p) noexcept { FreeEnvironmentStringsW(p); }
};

using unique_handle = unique_resource<HandleTraits>;
using unique_file = unique_resource<FileTraits>;
using unique_find = unique_resource<FindTraits>;
using unique_hkey = unique_resource<HkeyTraits>;
using unique_sc_handle = unique_resource<ScHandleTraits>;
using unique_module = unique_resource<ModuleTraits>;  // never used for the JVM library, which stays loaded
template <typename T>
using local_ptr = unique_resource<LocalTraits<T>>;
using unique_cfile = unique_resource<CFileTraits>;
using unique_event_source = unique_resource<EventSourceTraits>;
// The process's environment block as GetEnvironmentStringsA / GetEnvironmentStringsW give it.
using unique_environment_a = unique_resource<EnvironmentStringsTraits<char>>;
using unique_environment_w = unique_resource<EnvironmentStringsTraits<wchar_t>>;

}  // namespace vexlo
