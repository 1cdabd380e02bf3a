// HotSpot reads and writes the Unix descriptors 0, 1 and 2; the launcher's standard streams are Windows
// handles. A handle backed by a Unix descriptor (a file, or what a Unix parent gave Wine) is put there
// directly. Wine's Windows pipes and consoles have none, so those get a Unix pipe and a relay thread,
// created with CreateThread: only a Wine thread may call ReadFile and WriteFile.
#include "Bridge.h"

#include <windef.h>
#include <winbase.h>
#include <wincon.h>
#include <winnls.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

extern "C" {
// Hands out a descriptor of the caller's own (a duplicate).
LONG CDECL wine_server_handle_to_fd(HANDLE handle, unsigned int access, int* unixFd, unsigned int* options);
}

namespace hostjvm {
namespace {

struct Relay {
    HANDLE handle = nullptr;  // the Windows standard handle
    int fd = -1;              // our end of the Unix pipe
    bool console = false;
    HANDLE thread = nullptr;
};
Relay relays[3];

// The length of the longest prefix that does not end inside a UTF-8 sequence.
size_t wholeCharacters(const char* text, size_t length) {
    size_t start = length;
    int continuation = 0;
    while (start > 0 && continuation < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++continuation;
    }
    if (start == 0) return length;
    auto lead = static_cast<unsigned char>(text[start - 1]);
    int needed = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    return continuation >= needed ? length : start - 1;
}

bool writeAll(HANDLE handle, const char* data, size_t length) {
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, static_cast<DWORD>(length), &written, nullptr)) return false;
        data += written;
        length -= written;
    }
    return true;
}

// Consoles take UTF-16; Java writes UTF-8 under the UTF-8 locale the tests run in.
bool writeConsole(HANDLE handle, std::string& pending) {
    size_t whole = wholeCharacters(pending.data(), pending.size());
    std::u16string wide = toUtf16(pending.substr(0, whole));
    pending.erase(0, whole);
    DWORD written = 0;
    return wide.empty() || WriteConsoleW(handle, reinterpret_cast<const WCHAR*>(wide.data()),
                                         static_cast<DWORD>(wide.size()), &written, nullptr);
}

DWORD WINAPI relayOutput(void* argument) {
    auto* relay = static_cast<Relay*>(argument);
    std::string pending;
    char buffer[8192];
    for (;;) {
        ssize_t got = read(relay->fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (relay->console) {
            pending.append(buffer, static_cast<size_t>(got));
            if (!writeConsole(relay->handle, pending)) break;
        } else if (!writeAll(relay->handle, buffer, static_cast<size_t>(got))) {
            break;
        }
    }
    return 0;
}

bool writeToJava(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t put = write(fd, data, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

// Reads ahead of Java: what it has not consumed when it ends is lost, as with any pipe.
DWORD WINAPI relayInput(void* argument) {
    auto* relay = static_cast<Relay*>(argument);
    for (;;) {
        char buffer[8192];
        DWORD got = 0;
        std::string text;
        if (relay->console) {
            char16_t wide[2048];
            if (!ReadConsoleW(relay->handle, reinterpret_cast<WCHAR*>(wide), 2048, &got, nullptr) || got == 0) break;
            text = toUtf8(std::u16string(wide, got));
            if (!text.empty() && text[0] == '\x1a') break;  // Ctrl-Z ends console input
        } else {
            if (!ReadFile(relay->handle, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
            text.assign(buffer, got);
        }
        if (!writeToJava(relay->fd, text.data(), text.size())) break;
    }
    close(relay->fd);
    relay->fd = -1;
    return 0;
}

}  // namespace

void bindStandardStreams() {
    static const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    static const unsigned access[3] = {FILE_READ_DATA, FILE_WRITE_DATA, FILE_WRITE_DATA};
    for (int i = 0; i < 3; ++i) {
        HANDLE handle = GetStdHandle(ids[i]);
        if (!handle || handle == INVALID_HANDLE_VALUE) continue;
        int fd = -1;
        if (wine_server_handle_to_fd(handle, access[i], &fd, nullptr) == 0 && fd >= 0) {
            if (fd != i) {
                dup2(fd, i);
                close(fd);
            }
            continue;
        }
        int ends[2];
        if (pipe(ends) != 0) continue;
        Relay& relay = relays[i];
        relay.handle = handle;
        DWORD mode = 0;
        relay.console = GetConsoleMode(handle, &mode) != 0;
        int javaEnd = i == 0 ? ends[0] : ends[1];
        relay.fd = i == 0 ? ends[1] : ends[0];
        dup2(javaEnd, i);
        close(javaEnd);
        fcntl(relay.fd, F_SETFD, FD_CLOEXEC);
        relay.thread = CreateThread(nullptr, 0, i == 0 ? relayInput : relayOutput, &relay, 0, nullptr);
    }
}

void drainStandardStreams() {
    // Once Java's descriptors point elsewhere, the relays read to the end of what was written and stop.
    int null = open("/dev/null", O_WRONLY);
    for (int i = 1; i < 3; ++i) {
        if (!relays[i].thread) continue;
        dup2(null, i);
    }
    if (null >= 0) close(null);
    for (int i = 1; i < 3; ++i) {
        if (!relays[i].thread) continue;
        WaitForSingleObject(relays[i].thread, 5000);
        CloseHandle(relays[i].thread);
        relays[i].thread = nullptr;
    }
}

void flushStandardStreamsAtExit() {
    // The relay threads are gone by now; pass on what is still in the pipes without waiting for more.
    char buffer[8192];
    for (int i = 1; i < 3; ++i) {
        if (!relays[i].thread) continue;
        fcntl(relays[i].fd, F_SETFL, fcntl(relays[i].fd, F_GETFL) | O_NONBLOCK);
        ssize_t got;
        while ((got = read(relays[i].fd, buffer, sizeof buffer)) > 0)
            writeAll(relays[i].handle, buffer, static_cast<size_t>(got));
    }
}

void report(const std::string& text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE) writeAll(error, text.data(), text.size());
}

}  // namespace hostjvm
