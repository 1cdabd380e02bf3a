// Starting a child process with arguments, environment and working directory, capturing its output and
// answering its message boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "TestSupport.h"
#include "common/Handles.h"
#include "common/ProcAddress.h"

namespace vexlo::test {
namespace {

bool sameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The current environment with the changes applied, as a block for CreateProcessW.
std::vector<wchar_t> environmentBlock(const std::map<std::wstring, std::optional<std::wstring>>& changes) {
    std::vector<std::pair<std::wstring, std::wstring>> vars;
    if (wchar_t* env = GetEnvironmentStringsW()) {
        for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
            std::wstring entry(p);
            // Entries such as "=C:=C:\dir" have a name that starts with '='.
            size_t eq = entry.find(L'=', 1);
            if (eq == std::wstring::npos) continue;
            vars.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
        }
        FreeEnvironmentStringsW(env);
    }
    for (const auto& [name, value] : changes) {
        std::erase_if(vars, [&](const auto& v) { return sameName(v.first, name); });
        if (value) vars.emplace_back(name, *value);
    }
    std::sort(vars.begin(), vars.end(), [](const auto& a, const auto& b) {
        return CompareStringOrdinal(a.first.c_str(), -1, b.first.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::vector<wchar_t> block;
    for (const auto& [name, value] : vars) {
        std::wstring entry = name + L"=" + value;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    if (block.size() == 1) block.push_back(L'\0');
    return block;
}

// Drains one pipe on its own thread so that a child writing much to both streams never blocks.
struct PipeReader {
    unique_handle pipe;
    std::string data;
    unique_handle thread;

    static DWORD WINAPI run(void* self) {
        auto* reader = static_cast<PipeReader*>(self);
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(reader->pipe.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
            reader->data.append(buffer, got);
        return 0;
    }
    void start() { thread.reset(CreateThread(nullptr, 0, &PipeReader::run, this, 0, nullptr)); }
};

struct PipeWriter {
    unique_handle pipe;
    std::string data;
    DWORD delayMs = 0;
    unique_handle thread;

    static DWORD WINAPI run(void* self) {
        auto* writer = static_cast<PipeWriter*>(self);
        if (writer->delayMs > 0) Sleep(writer->delayMs);
        size_t done = 0;
        DWORD put = 0;
        while (done < writer->data.size() &&
               WriteFile(writer->pipe.get(), writer->data.data() + done,
                         static_cast<DWORD>(std::min<size_t>(writer->data.size() - done, 65536)), &put, nullptr))
            done += put;
        writer->pipe.reset();
        return 0;
    }
    void start() { thread.reset(CreateThread(nullptr, 0, &PipeWriter::run, this, 0, nullptr)); }
};

// A pipe whose child end is inheritable and whose parent end is not.
bool makePipe(unique_handle& parentEnd, unique_handle& childEnd, bool childReads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
    unique_handle r(readEnd), w(writeEnd);
    parentEnd = childReads ? std::move(w) : std::move(r);
    childEnd = childReads ? std::move(r) : std::move(w);
    SetHandleInformation(parentEnd.get(), HANDLE_FLAG_INHERIT, 0);
    return true;
}

// An attribute list that names the only handles a child inherits.
struct InheritList {
    std::vector<unsigned char> buffer;
    bool ready = false;
    InheritList(HANDLE* handles, size_t bytes) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer.resize(size);
        ready = size > 0 && InitializeProcThreadAttributeList(attributes(), 1, 0, &size);
        if (ready && !UpdateProcThreadAttribute(attributes(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, bytes,
                                                nullptr, nullptr)) {
            DeleteProcThreadAttributeList(attributes());
            ready = false;
        }
    }
    ~InheritList() {
        if (ready) DeleteProcThreadAttributeList(attributes());
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data()); }
};

// Children started at the same time from several threads would inherit each other's pipe ends.
std::mutex& creationLock() {
    static std::mutex lock;
    return lock;
}

struct EnumState {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectBoxes(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != state->processId || !IsWindowVisible(window)) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") == 0) state->found.push_back(window);
    return TRUE;
}

std::wstring windowText(HWND window) {
    wchar_t buffer[8192] = {};
    int n = InternalGetWindowText(window, buffer, 8192);
    if (n > 0) return std::wstring(buffer, static_cast<size_t>(n));
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                             &length))
        return {};
    return std::wstring(buffer, std::min<size_t>(length, 8191));
}

}  // namespace

std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    for (wchar_t c : arg) {
        quoted += c;
        if (c == L'"') quoted += L'"';
    }
    return quoted + L"\"";
}

std::map<std::wstring, std::optional<std::wstring>> isolatedEnvironment(const std::wstring& tempDir, bool logOn) {
    std::map<std::wstring, std::optional<std::wstring>> env;
    env[L"TEMP"] = tempDir;
    env[L"TMP"] = tempDir;
    env[L"VEXLO_LOG"] = logOn ? std::optional<std::wstring>(L"yes") : std::nullopt;
    env[L"QUANDREL_LOG"] = std::nullopt;
    return env;
}

std::vector<HWND> findMessageBoxes(DWORD processId) {
    EnumState state{processId, {}};
    EnumWindows(&collectBoxes, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

MessageBoxInfo readMessageBox(HWND box) {
    MessageBoxInfo info;
    info.title = windowText(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        if (_wcsicmp(cls, L"Static") != 0) continue;
        std::wstring text = windowText(child);
        if (text.empty()) continue;  // the icon
        if (!info.text.empty()) info.text += L"\n";
        info.text += text;
    }
    return info;
}

void closeMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

namespace {

struct Child {
    unique_handle job;  // holds the child and what it starts, so that a timeout ends them all
    unique_handle process;
    DWORD processId = 0;
    std::shared_ptr<PipeReader> out = std::make_shared<PipeReader>();
    std::shared_ptr<PipeReader> err = std::make_shared<PipeReader>();
    std::shared_ptr<PipeWriter> in = std::make_shared<PipeWriter>();
};

bool startChild(const wchar_t* application, std::wstring commandLine, const RunOptions& options, Child& child,
                RunResult& result) {
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');
    std::vector<wchar_t> env = environmentBlock(options.env);
    PROCESS_INFORMATION pi{};
    {
        std::lock_guard<std::mutex> guard(creationLock());
        unique_handle childIn, childOut, childErr;
        if (!makePipe(child.in->pipe, childIn, true) || !makePipe(child.out->pipe, childOut, false) ||
            !makePipe(child.err->pipe, childErr, false)) {
            result.startError = GetLastError();
            return false;
        }
        // The child inherits its three pipe ends and nothing else: under Wine, a child that lingers (a window
        // being torn down) with a copy of one of this program's handles keeps that object open, and a copy
        // of the test runner's output pipe keeps the runner waiting after this program has ended.
        HANDLE inherited[] = {childIn.get(), childOut.get(), childErr.get()};
        InheritList list(inherited, sizeof inherited);
        if (!list.ready) {
            result.startError = GetLastError();
            return false;
        }
        STARTUPINFOEXW si{};
        si.StartupInfo.cb = sizeof si;
        si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        si.StartupInfo.hStdInput = childIn.get();
        si.StartupInfo.hStdOutput = childOut.get();
        si.StartupInfo.hStdError = childErr.get();
        si.lpAttributeList = list.attributes();
        if (!CreateProcessW(application, commandBuffer.data(), nullptr, nullptr, TRUE,
                            CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, env.data(),
                            options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(),
                            &si.StartupInfo, &pi)) {
            result.startError = GetLastError();
            return false;
        }
    }
    result.started = true;
    child.process.reset(pi.hProcess);
    unique_handle thread(pi.hThread);
    if (child.process) {
        child.job.reset(CreateJobObjectW(nullptr, nullptr));
        if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get())) child.job.reset();
        ResumeThread(thread.get());
    }
    child.processId = pi.dwProcessId;
    child.in->data = options.stdinData;
    child.in->delayMs = options.stdinDelayMs;
    child.in->start();
    child.out->start();
    child.err->start();
    return true;
}

// Collects the output once every writer has closed its end; a grandchild that keeps a pipe open is given
// `graceMs`, then the reads are cancelled.
void collectOutput(Child& child, RunResult& result, DWORD graceMs) {
    HANDLE readers[] = {child.out->thread.get(), child.err->thread.get()};
    if (readers[0] && readers[1] && WaitForMultipleObjects(2, readers, TRUE, graceMs) != WAIT_OBJECT_0) {
        for (HANDLE t : readers) CancelSynchronousIo(t);
        WaitForMultipleObjects(2, readers, TRUE, 1000);
    }
    if (child.in->thread && WaitForSingleObject(child.in->thread.get(), 1000) != WAIT_OBJECT_0)
        CancelSynchronousIo(child.in->thread.get());
    bool readersDone = true;
    for (auto* t : {child.out->thread.get(), child.err->thread.get(), child.in->thread.get()})
        if (t && WaitForSingleObject(t, 0) != WAIT_OBJECT_0) readersDone = false;
    if (!readersDone) {
        // Keep the readers' state alive rather than free it under a running thread.
        static std::vector<std::shared_ptr<void>> stillRunning;
        stillRunning.insert(stillRunning.end(), {child.out, child.err, child.in});
        ADD_FAILURE() << "output pipes of the child stayed open";
        return;
    }
    result.out = child.out->data;
    result.err = child.err->data;
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

// Wine's own export that maps a Windows path to the Unix one.
std::string unixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(const wchar_t*);
    auto fn = procAddress<Fn>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!fn) return {};
    char* unix = fn(path.c_str());
    if (!unix) return {};
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

}  // namespace

RunResult runProcess(const std::wstring& exe, const RunOptions& options) {
    RunResult result;
    std::wstring commandLine;
    if (options.commandLine) {
        commandLine = *options.commandLine;
    } else {
        commandLine = quoteArgument(exe);
        for (const auto& arg : options.args) commandLine += L" " + quoteArgument(arg);
    }
    Child child;
    if (!startChild(exe.c_str(), commandLine, options, child, result)) return result;
    result.processId = child.processId;

    std::set<HWND> seen;
    ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD slice = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        if (options.closeMessageBoxes) slice = std::min<DWORD>(slice, 20);
        if (WaitForSingleObject(child.process.get(), slice) == WAIT_OBJECT_0) break;
        if (GetTickCount64() >= deadline) {
            result.timedOut = true;
            if (!child.job || !TerminateJobObject(child.job.get(), 0xDEAD))
                TerminateProcess(child.process.get(), 0xDEAD);
            WaitForSingleObject(child.process.get(), 5000);
            break;
        }
        if (options.closeMessageBoxes) {
            for (HWND box : findMessageBoxes(child.processId)) {
                if (seen.insert(box).second) result.boxes.push_back(readMessageBox(box));
                closeMessageBox(box);
            }
        }
    }
    GetExitCodeProcess(child.process.get(), &result.exitCode);
    collectOutput(child, result, result.timedOut ? 1000 : 5000);
    return result;
}

bool runningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

RunResult runWithUnixEnvironment(const std::wstring& exe, const RunOptions& options) {
    RunResult result;
    TempDir dir(L"unixrun");
    auto unixFile = [&](const wchar_t* name) { return unixPath(dir.file(name)); };
    std::string scriptFile = unixFile(L"run.sh");
    if (scriptFile.empty() || scriptFile.find_first_of(" \t\"") != std::string::npos) {
        ADD_FAILURE() << "no usable Unix path for " << wideToUtf8(dir.path());
        return result;
    }
    // Wine gives no handle on a Unix process, and the pipes it hands over may report their end early: the
    // script collects the output itself (standard output still through a pipe) and renames the exit code's
    // file last, which marks the end.
    std::string command = "wine " + shellQuote(wideToUtf8(exe));
    for (const auto& arg : options.args) command += " " + shellQuote(wideToUtf8(arg));
    std::string script = "( " + command + " </dev/null 2>" + shellQuote(unixFile(L"err")) + "; echo $? > " +
                         shellQuote(unixFile(L"code.tmp")) + " ) | cat > " + shellQuote(unixFile(L"out")) + "\n" +
                         "mv " + shellQuote(unixFile(L"code.tmp")) + " " + shellQuote(unixFile(L"code")) + "\n";
    writeFileBytes(dir.file(L"run.sh"), script);

    Child child;
    if (!startChild(nullptr, L"Z:\\bin\\sh " + utf8ToWide(scriptFile), options, child, result)) return result;
    ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
    while (!fileExists(dir.file(L"code")) && GetTickCount64() < deadline) Sleep(25);
    collectOutput(child, result, 1000);
    std::string code = readFileBytes(dir.file(L"code")).value_or("");
    if (code.empty()) {
        result.timedOut = true;
        ADD_FAILURE() << "no exit code from " << wideToUtf8(dir.path());
        return result;
    }
    result.exitCode = static_cast<DWORD>(std::stoul(code));
    result.out = readFileBytes(dir.file(L"out")).value_or("");
    result.err = readFileBytes(dir.file(L"err")).value_or("");
    return result;
}

std::vector<RunResult> runProcesses(const std::vector<std::wstring>& programs, const RunOptions& options,
                                    int parallel) {
    std::vector<RunResult> results(programs.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < parallel; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < programs.size();) results[i] = runProcess(programs[i], options);
        });
    for (auto& w : workers) w.join();
    return results;
}

}  // namespace vexlo::test
