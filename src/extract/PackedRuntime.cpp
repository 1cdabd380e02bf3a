#include "extract/PackedRuntime.h"

#include <windows.h>

#include <algorithm>

#include "common/ConsoleOutput.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"
#include "config/MessageErrors.h"
#include "log/Log.h"
#include "paths/PathForms.h"

namespace vexlo {

namespace {
void unpackDirectory(std::string_view home, std::string_view subdirectory, bool& announced);

constexpr char kPackSuffix[] = ".pack";
constexpr std::size_t kPackSuffixLength = sizeof kPackSuffix - 1;

// The launcher has no console of its own; the line shows wherever the parent put our standard output.
void printAnnouncement() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (writeToConsole(out, L"Preparing JRE ...\n")) return;
    // Text-mode line end, as the C runtime would write it.
    if (writeBytes(out, "Preparing JRE ...\r\n")) FlushFileBuffers(out);
}

}  // namespace

void preparePackedRuntime(std::string_view home) {
    bool announced = false;
    unpackDirectory(home, "lib", announced);
    unpackDirectory(home, "lib\\ext", announced);
    if (announced) logMessage(L"Unpacking JRE done");
}

namespace {

// Unpacks every packed archive of home\subdirectory whose archive is missing; `announced` is shared
// between the calls of one preparation.
void unpackDirectory(std::string_view home, std::string_view subdirectory, bool& announced) {
    std::string base = std::string(home) + "\\" + std::string(subdirectory);
    std::string pattern = base + "\\*.jar.pack";
    WIN32_FIND_DATAA entry;
    unique_find search(FindFirstFileA(pattern.c_str(), &entry));
    if (!search) return;
    do {
        std::string_view name = entry.cFileName;
        // A short-name match may not end in ".pack"; only the long name tells the archive's name.
        if (name.size() <= kPackSuffixLength || name.substr(name.size() - kPackSuffixLength) != kPackSuffix) continue;
        std::string_view archiveName = name.substr(0, name.size() - kPackSuffixLength);
        std::string archivePath = base + "\\" + std::string(archiveName);
        logMessage(L"checking %S", archivePath.c_str());
        if (pathExists(archivePath)) continue;

        if (!announced) {
            logMessage(L"Unpacking JRE");
            printAnnouncement();
            announced = true;
        }
        std::string relativeArchive = std::string(subdirectory) + "\\" + std::string(archiveName);
        std::string packedPath = std::string(home) + "\\" + relativeArchive + kPackSuffix;
        detail::unpackArchive(home, packedPath);
    } while (FindNextFileA(search.get(), &entry));
}

}  // namespace

void detail::unpackArchive(std::string_view home, const std::string& packedPath) {
    std::string archivePath = packedPath.substr(0, packedPath.size() - std::min(packedPath.size(), kPackSuffixLength));
    if (!pathExists(packedPath)) {
        logMessage(L"pack path doesn't exists");
        return;
    }
    std::string tool = std::string(home) + "\\bin\\unpack200.exe";
    // The command line does not repeat the tool's name: the tool sees "-r" first.
    std::string arguments = "-r \"" + packedPath + "\" \"" + archivePath + "\"";
    logMessage(L"%S", tool.c_str());
    logMessage(L"%S", arguments.c_str());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(tool.c_str(), arguments.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &process)) {
        logMessage(L"could not create unpack process");
        fatalMessageError(ids::kMsgUnpackFailed);
    }
    unique_handle processHandle(process.hProcess);
    unique_handle threadHandle(process.hThread);

    logMessage(L"waiting for unpack200 to finish");
    WaitForSingleObject(processHandle.get(), INFINITE);
    logMessage(L"unpack done");

    if (!DeleteFileA(packedPath.c_str())) {
        DWORD error = GetLastError();
        // The tool removes the packed file itself when asked to with -r.
        if (error != ERROR_FILE_NOT_FOUND) {
            logMessage(L"could not delete packed file (error %d)", static_cast<int>(error));
        }
    }
}

}  // namespace vexlo
