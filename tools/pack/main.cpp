// vexlo-pack: turns a vexlo.toml into a launcher copy, and shows what a launcher copy carries.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "BlockReader.h"
#include "BuildSummary.h"
#include "EscapeCheck.h"
#include "JarInit.h"
#include "PackConfig.h"
#include "config/ConfigIds.h"
#include "extract/IncludedFileName.h"

namespace fs = std::filesystem;
using namespace vexlo::pack;

namespace {

const char* const kUsage =
    "usage: vexlo-pack build FILE.toml [-o OUT.exe] [--template vexlo.exe] [--runtime-jar vexlo-runtime.jar] [--quiet]\n"
    "       vexlo-pack check FILE.toml [--runtime-jar vexlo-runtime.jar]\n"
    "       vexlo-pack inspect [--ids] [--files DIR] APP.exe\n"
    "       vexlo-pack init APP.jar [-o vexlo.toml] [--force]\n"
    "       vexlo-pack keys | schema\n";

int usage(const std::string& why) {
    std::cerr << "vexlo-pack: " << why << "\n" << kUsage;
    return 2;
}

std::string shown(const fs::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

fs::path fromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

// The folder of this program: the template and the runtime jar are looked for there.
fs::path toolDir(const char* argv0) {
#ifdef _WIN32
    std::wstring buf(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n > 0 && n < buf.size()) return fs::path(buf.substr(0, n)).parent_path();
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path();
#endif
    return fs::absolute(fs::path(argv0)).parent_path();
}

struct Args {
    std::string command;
    std::vector<std::string> positional;
    std::string out, templ, runtimeJar, filesDir;
    bool ids = false;
    bool force = false;
    bool quiet = false;
};

bool parseArgs(int argc, char** argv, Args* a, std::string* why) {
    if (argc < 2) return *why = "no command given", false;
    a->command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= argc) return *why = arg + " needs a value", false;
            *into = argv[++i];
            return true;
        };
        if (arg == "-o" || arg == "--output") {
            if (!value(&a->out)) return false;
        } else if (arg == "--template") {
            if (!value(&a->templ)) return false;
        } else if (arg == "--runtime-jar") {
            if (!value(&a->runtimeJar)) return false;
        } else if (arg == "--files") {
            if (!value(&a->filesDir)) return false;
        } else if (arg == "--ids") {
            a->ids = true;
        } else if (arg == "--force") {
            a->force = true;
        } else if (arg == "--quiet" || arg == "-q") {
            a->quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return *why = "unknown option " + arg, false;
        } else {
            a->positional.push_back(arg);
        }
    }
    return true;
}

bool readText(const fs::path& p, std::string* text) { return loadFromDisk(p, text); }

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

// Writes through a temporary file beside `out` that replaces it only when the whole write succeeded, so a
// failed build leaves whatever was there. An output that is a folder or one of the run's own inputs is refused.
bool replaceWithLauncher(const fs::path& out, std::initializer_list<fs::path> inputs,
                         const std::function<bool(const fs::path&)>& write, std::string* error) {
    std::error_code ec;
    if (fs::is_directory(out, ec)) return *error = shown(out) + " is a folder, not an output file", false;
    for (const fs::path& input : inputs) {
        if (sameFile(out, input)) return *error = shown(out) + " is an input of this build", false;
    }
    fs::path temporary = out;
    temporary += ".vexlo-pack-" + std::to_string(std::random_device{}()) + ".tmp";
    if (!write(temporary)) {
        fs::remove(temporary, ec);
        return false;
    }
#ifdef _WIN32
    const bool replaced = MoveFileExW(temporary.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    fs::rename(temporary, out, ec);
    const bool replaced = !ec;
#endif
    if (!replaced) {
        fs::remove(temporary, ec);
        return *error = "cannot replace " + shown(out), false;
    }
    return true;
}

int buildOrCheck(const Args& a, const fs::path& tools, bool write) {
    if (a.positional.size() != 1) return usage("expected one configuration file");
    if (!write && (!a.out.empty() || !a.templ.empty())) return usage("check takes no -o or --template");
    fs::path file = fromUtf8(a.positional[0]);
    std::string text;
    if (!readText(file, &text)) {
        std::cerr << shown(file) << ": error: cannot read the file\n";
        return 1;
    }
    PackOptions opts;
    opts.displayName = shown(file);
    opts.baseDir = fs::absolute(file).parent_path();
    if (!a.runtimeJar.empty()) {
        opts.runtimeJar = fromUtf8(a.runtimeJar);
    } else if (fs::exists(tools / kRuntimeJarName)) {
        opts.runtimeJar = tools / kRuntimeJarName;
    }
    PackResult r = configToBlock(text, opts);
    for (const auto& d : r.errors) std::cerr << d.text() << escapeHint(text, d) << "\n";
    for (const auto& w : escapeWarnings(text, opts.displayName)) std::cerr << w << "\n";
    if (!r.errors.empty()) return 1;
    if (!write) {
        std::cout << shown(file) << ": ok (" << r.block.config.size() << " entries, " << r.block.messages.size()
                  << " messages, " << r.block.includedFiles.size() << " included files)\n";
        return 0;
    }
    fs::path templ = a.templ.empty() ? tools / "vexlo.exe" : fromUtf8(a.templ);
    fs::path out = !a.out.empty()
                       ? fromUtf8(a.out)
                       : fs::path(fromUtf8(r.serviceName.empty() ? shown(file.stem()) : r.serviceName)) += ".exe";
    std::string error;
    if (!replaceWithLauncher(
            out, {file, templ},
            [&](const fs::path& temporary) {
                if (writeLauncher(templ, temporary, r.block, &error)) return true;
                error += " (template " + shown(templ) + ")";
                return false;
            },
            &error)) {
        std::cerr << "vexlo-pack: error: " << error << "\n";
        return 1;
    }
    std::error_code sizeError;
    if (!a.quiet) std::cout << buildSummary(shown(out), fs::file_size(out, sizeError), r);
    return 0;
}

std::string printable(const std::string& s) {
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') out += '\\', out += ch;
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return "\"" + out + "\"";
}

std::string utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) out += static_cast<char>(c);
        else if (c < 0x800) out += static_cast<char>(0xC0 | (c >> 6)), out += static_cast<char>(0x80 | (c & 0x3F));
        else
            out += static_cast<char>(0xE0 | (c >> 12)), out += static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Before --files writes anything, every listed name passes the launcher's rule.
bool namesAccepted(const Block& block, const fs::path& exe) {
    for (const auto& [id, value] : block.config) {
        if (id != vexlo::ids::kIncludedFilePaths) continue;
        for (const std::string& name : splitIncludedNames(value)) {
            if (const char* problem = vexlo::includedFileNameProblem(name)) {
                std::cerr << shown(exe) << ": error: included file " << printable(name) << " refused: " << problem
                          << "; nothing written\n";
                return false;
            }
        }
    }
    return true;
}

// Whether a path lies below the folder once links and ".." are resolved (a link inside it could lead out).
bool liesInside(const fs::path& dir, const fs::path& path) {
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(fs::absolute(dir), ec);
    if (ec) return false;
    const fs::path target = fs::weakly_canonical(fs::absolute(path), ec);
    if (ec) return false;
    const fs::path rel = target.lexically_relative(base);
    return !rel.empty() && *rel.begin() != ".." && *rel.begin() != "." && !rel.is_absolute();
}

int inspect(const Args& a) {
    if (a.positional.size() != 1) return usage("expected one launcher");
    fs::path exe = fromUtf8(a.positional[0]);
    ReadBlock rb;
    std::string error;
    if (!readLauncherBlock(exe, &rb, &error)) {
        std::cerr << shown(exe) << ": error: " << error << "\n";
        return 1;
    }
    const Block& b = rb.block;
    if (a.ids) {
        for (const auto& [id, value] : b.config) std::cout << id << " = " << printable(value) << "\n";
        for (const auto& m : b.messages) std::cout << "message " << m.id << " = " << printable(utf8(m.text)) << "\n";
        for (const auto& g : b.groups)
            for (const auto& m : g.messages)
                std::cout << "language " << printable(g.prefix) << " message " << m.id << " = "
                          << printable(utf8(m.text)) << "\n";
        for (size_t i = 0; i < b.includedFiles.size(); ++i)
            std::cout << "included file " << i << ": " << b.includedFiles[i].size() << " bytes\n";
        return 0;
    }
    fs::path filesDir = a.filesDir.empty() ? fs::path() : fromUtf8(a.filesDir);
    if (!a.filesDir.empty() && !namesAccepted(b, exe)) return 1;
    Inspection in = blockToConfig(b, filesDir);
    if (rb.trailingBytes)
        in.notes.push_back(std::to_string(rb.trailingBytes) + " bytes after the last included file are not shown");
    if (a.filesDir.empty() && !in.files.empty()) {
        in.notes.push_back("included files are named, not written; give --files DIR to write them");
    } else {
        for (const auto& [path, data] : in.files) {
            if (!liesInside(filesDir, path)) {
                std::cerr << shown(path) << ": error: lies outside " << shown(filesDir) << "; nothing written\n";
                return 1;
            }
        }
        for (const auto& [path, data] : in.files) {
            std::error_code ec;
            fs::create_directories(path.parent_path(), ec);
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f.write(data.data(), static_cast<std::streamsize>(data.size()));
            if (!f) {
                std::cerr << shown(path) << ": error: cannot write the included file\n";
                return 1;
            }
        }
    }
    std::cout << in.toml;
    for (const auto& n : in.notes) std::cerr << "note: " << n << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    std::string why;
    if (!parseArgs(argc, argv, &a, &why)) return usage(why);
    fs::path tools = toolDir(argv[0]);
    try {
        if (a.command == "build") return buildOrCheck(a, tools, true);
        if (a.command == "check") return buildOrCheck(a, tools, false);
        if (a.command == "inspect") return inspect(a);
        if (a.command == "init") {
            if (a.positional.size() != 1) return usage("expected one jar");
            return initCommand(a.positional[0], a.out, a.force);
        }
        if (a.command == "schema" && a.positional.empty()) {
            std::cout << configSchema();
            return 0;
        }
        if (a.command == "keys" && a.positional.empty()) {
            std::cout << keyReference();
            return 0;
        }
        if (a.command == "-h" || a.command == "--help") {
            std::cout << kUsage;
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "vexlo-pack: error: " << e.what() << "\n";
        return 1;
    }
    return usage("unknown command " + a.command);
}
