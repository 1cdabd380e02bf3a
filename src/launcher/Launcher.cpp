#include "launcher/Launcher.h"

#include <windows.h>

#include <algorithm>

#include "common/CommandLine.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "config/MessageErrors.h"
#include "extract/IncludedFiles.h"
#include "instance/SingleInstance.h"
#include "jvm/JvmSearch.h"
#include "launch/JavaVMLauncher.h"
#include "launch/JvmArguments.h"
#include "launch/NativeLibraryPath.h"
#include "common/CommandLine.h"
#include "launcher/Check.h"
#include "launcher/ProcessSettings.h"
#include "log/Log.h"
#include "paths/TempDirectories.h"
#include "process/LauncherState.h"
#include "service/ServiceControl.h"
#include "service/ServiceRuntime.h"
#include "service/ServiceSettings.h"

namespace vexlo {

namespace {

void launchSequence(const std::vector<std::wstring>& arguments, bool restarted);

void initialiseLauncher() {
    launcherTempDir.clear();
    readConfigSecondPass();
    char kind[2];
    getConfigString(ids::kLauncherKind, kind, sizeof kind);
    launcherKind = kind[0];
    reducePath();
    if (getConfigInt(ids::kIgnoreJavaOptionsEnv) != 0) {
        logMessage(L"ignoring java options environment variables");
        removeJavaOptionVariables();
    }
    applyWorkingDirectory();
}

int runServiceDispatcher() {
    // The dispatcher keeps a pointer to the name for the life of the service.
    static std::wstring nameBuffer;
    nameBuffer = serviceName;
    nameBuffer.reserve(serviceName.size() + 10);
    SERVICE_TABLE_ENTRYW table[] = {{nameBuffer.data(), serviceMain}, {nullptr, nullptr}};
    logMessage(L"calling StartServiceCtrlDispatcher");
    if (!StartServiceCtrlDispatcherW(table))
        logMessage(L"StartServiceCtrlDispatcher failed with error %d", static_cast<int>(GetLastError()));
    logMessage(L"StartServiceCtrlDispatcher returned");
    return 0;
}

unsigned installStartType() { return configuredStartType(); }

int dispatchCommand(std::wstring word, std::wstring programPath) {
    word.erase(0, 1);
    if (!word.empty() && word[0] == L'-') word.erase(0, 1);
    argumentList.erase(argumentList.begin());
    if (!argumentList.empty()) serviceName = argumentList.front();

    if (word == L"?" || word == L"help") return printUsage();
    if (word == L"install") return installService(serviceName, installStartType());
    if (word == L"install-and-start") {
        installService(serviceName, installStartType());
        return startService(serviceName, argumentList);
    }
    if (word == L"install-auto") return installService(serviceName, SERVICE_AUTO_START);
    if (word == L"install-demand") return installService(serviceName, SERVICE_DEMAND_START);
    if (word == L"reconfigure") return reconfigureService(serviceName, installStartType());
    if (word == L"uninstall") return uninstallService(serviceName, true);
    if (word == L"stop") return stopService(serviceName, true);
    if (word == L"start") return startService(serviceName, argumentList);
    if (word == L"restart") {
        stopService(serviceName, false);
        return startService(serviceName, argumentList);
    }
    if (word == L"status") return serviceStatus(serviceName);
    if (word == L"check") {
        argumentList.insert(argumentList.begin(), programPath);
        return runCheck(argumentList);
    }
    if (word == L"run" || word == L"run-redirect") {
        if (word == L"run") {
            logMessage(L"running service");
            noRedirectFlag = true;
        } else {
            logMessage(L"running service with redirection");
        }
        serviceFlag = false;
        argumentList.insert(argumentList.begin(), programPath);
        launchSequence(argumentList, false);
        return 0;
    }
    return runServiceDispatcher();
}

// Known before the configuration is read, so that no error of the child ever opens a message box.
bool startedAsServiceChild() {
    std::vector<std::wstring> arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    return arguments.size() > 1 && arguments.back() == kRestartMarker;
}

}  // namespace

int launcherMain() {
    noMessageBoxFlag = startedAsServiceChild();
    readConfigFirstPass();
    serviceFlag = true;
    initialiseLauncher();
    serviceName = getConfigWide(ids::kServiceName);

    const wchar_t* commandLine = GetCommandLineW();
    logMessage(L"command line %s", commandLine);
    argumentList.clear();
    splitCommandLine(commandLine, argumentList);
    std::wstring programPath;
    if (!argumentList.empty()) {
        programPath = argumentList.front();
        argumentList.erase(argumentList.begin());
    }

    if (!argumentList.empty() && argumentList.back() == kRestartMarker) {
        argumentList.pop_back();
        launchSequence(argumentList, true);
        return 0;
    }
    if (argumentList.empty() || (argumentList.front()[0] != L'/' && argumentList.front()[0] != L'-'))
        return runServiceDispatcher();
    return dispatchCommand(argumentList.front(), programPath);
}

namespace {

// Runs the application in this process with the argument list for JVM creation; returns only on success.
void launchSequence(const std::vector<std::wstring>& arguments, bool restarted) {
    if (extractIncludedFiles(true) != 0) fatalMessageError(ids::kMsgLaunchFailed, std::string("16"));
    prepareNativeLibraryPath();
    // After the extraction, so that the values may name the launcher's temporary directory.
    applyServiceEnvironment();
    if (restarted) outliveConsoleEvents();
    checkSingleInstance();
    if (!LoadDLL()) exitLauncher(1);
    if (!launchJvm(arguments)) exitLauncher(1);
}

}  // namespace

}  // namespace vexlo
