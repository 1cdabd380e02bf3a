#include "JarInit.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "ZipReader.h"

namespace vexlo::pack {
namespace {

// A manifest or a module descriptor is small; anything bigger is not worth inflating.
constexpr uint64_t kMaxMetadata = 4u << 20;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The main section's headers: continuation lines begin with one space; the first empty line ends the section.
std::vector<std::pair<std::string, std::string>> manifestHeaders(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (line.empty()) break;
            if (line[0] == ' ' && !lines.empty()) lines.back() += line.substr(1);
            else lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        if (line[0] == ' ' && !lines.empty()) lines.back() += line.substr(1);
        else lines.push_back(line);
    }
    std::vector<std::pair<std::string, std::string>> headers;
    for (const std::string& l : lines) {
        size_t colon = l.find(": ");
        if (colon != std::string::npos) headers.emplace_back(lower(l.substr(0, colon)), l.substr(colon + 2));
    }
    return headers;
}

struct ClassReader {
    const std::string& b;
    size_t at = 0;
    bool ok = true;
    uint32_t u(int width) {
        if (!ok || b.size() - at < static_cast<size_t>(width)) return ok = false, 0;
        uint32_t v = 0;
        for (int i = 0; i < width; ++i) v = v << 8 | static_cast<unsigned char>(b[at++]);
        return v;
    }
    void skip(size_t n) {
        if (b.size() - at < n) ok = false;
        else at += n;
    }
};

// The module name of a module-info.class (its Module attribute), "" when it cannot be read.
std::string moduleNameOf(const std::string& cls) {
    ClassReader r{cls};
    if (r.u(4) != 0xCAFEBABEu) return {};
    r.skip(4);
    const uint32_t count = r.u(2);
    std::vector<std::string> utf8(count);
    std::vector<uint32_t> moduleName(count, 0);
    for (uint32_t i = 1; i < count && r.ok; ++i) {
        switch (r.u(1)) {
            case 1: {
                uint32_t n = r.u(2);
                if (r.ok && cls.size() - r.at >= n) utf8[i] = cls.substr(r.at, n);
                r.skip(n);
                break;
            }
            case 7:
            case 8:
            case 16:
            case 20: r.skip(2); break;
            case 19: moduleName[i] = r.u(2); break;
            case 15: r.skip(3); break;
            case 3:
            case 4:
            case 9:
            case 10:
            case 11:
            case 12:
            case 17:
            case 18: r.skip(4); break;
            case 5:
            case 6:
                r.skip(8);
                ++i;
                break;
            default: return {};
        }
    }
    r.skip(6);
    r.skip(2 * size_t{r.u(2)});
    for (int members = 0; members < 2 && r.ok; ++members) {
        for (uint32_t m = r.u(2); m > 0 && r.ok; --m) {
            r.skip(6);
            for (uint32_t a = r.u(2); a > 0 && r.ok; --a) r.skip(2), r.skip(r.u(4));
        }
    }
    for (uint32_t a = r.u(2); a > 0 && r.ok; --a) {
        uint32_t name = r.u(2), length = r.u(4);
        if (r.ok && name < count && utf8[name] == "Module") {
            uint32_t module = r.u(2);
            if (r.ok && module < count && moduleName[module] < count) return utf8[moduleName[module]];
            return {};
        }
        r.skip(length);
    }
    return {};
}

std::string percentDecoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') out += '\\', out += c;
        else if (u < 0x20 || u == 0x7F) {
            const char* hex = "0123456789ABCDEF";
            out += "\\u00", out += hex[u >> 4], out += hex[u & 15];
        } else out += c;
    }
    return out + "\"";
}

// A Windows path in a literal (single-quoted) string, where a backslash is itself; a basic string only when
// the path holds a quote or a control character.
std::string tomlPath(const std::string& path) {
    for (char c : path)
        if (c == '\'' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return quoted(path);
    return "'" + path + "'";
}

}  // namespace

bool readJarFacts(const std::vector<uint8_t>& jar, JarFacts* facts, std::string* error) {
    *facts = JarFacts();
    std::vector<ZipEntry> entries;
    if (!readZipDirectory(jar, &entries, error)) return false;
    std::string data;
    for (const ZipEntry& e : entries) {
        if (lower(e.name) == "meta-inf/manifest.mf") {
            if (!readZipEntry(jar, e, kMaxMetadata, &data, error)) return false;
            for (const auto& [name, value] : manifestHeaders(data)) {
                if (name == "main-class") facts->mainClass = value;
                if (name == "automatic-module-name" && facts->moduleName.empty()) facts->moduleName = value;
                if (name == "class-path") {
                    size_t start = 0;
                    while (start < value.size()) {
                        size_t end = value.find(' ', start);
                        if (end == std::string::npos) end = value.size();
                        if (end > start) facts->classPath.push_back(value.substr(start, end - start));
                        start = end + 1;
                    }
                }
            }
        }
    }
    for (const ZipEntry& e : entries) {
        // The descriptor at the root, or a versioned one of a multi-release jar.
        const bool root = e.name == "module-info.class";
        const bool versioned = e.name.rfind("META-INF/versions/", 0) == 0 && e.name.size() > 18 &&
                               e.name.find('/', 18) != std::string::npos &&
                               e.name.substr(e.name.find('/', 18) + 1) == "module-info.class";
        if (!root && !versioned) continue;
        if (!readZipEntry(jar, e, kMaxMetadata, &data, error)) return false;
        facts->explicitModule = true;
        std::string name = moduleNameOf(data);
        if (name.empty()) {
            if (error) *error = "entry " + e.name + ": not a readable module descriptor";
            return false;
        }
        facts->moduleName = name;
        break;
    }
    return true;
}

std::string serviceNameFor(const std::string& jarFileName) {
    std::string stem = jarFileName;
    if (stem.size() > 4 && lower(stem.substr(stem.size() - 4)) == ".jar") stem.resize(stem.size() - 4);
    std::string out;
    for (char c : stem) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        if (keep) out += c;
        else if (!out.empty() && out.back() != '-') out += '-';
    }
    while (!out.empty() && (out.back() == '-' || out.back() == '.')) out.pop_back();
    if (out.size() > 80) out.resize(80);
    return out.empty() ? "application" : out;
}

std::string initToml(const std::string& jarFileName, const JarFacts& facts, std::vector<std::string>* notes) {
    const std::string name = serviceNameFor(jarFileName);
    std::string jar = "{ jar = " + tomlPath(jarFileName) + ", mandatory = true }";
    std::string t;
    t += "# Written by vexlo-pack init from " + jarFileName + ".\n";
    t += "# vexlo-pack build vexlo.toml writes " + name + ".exe; ship it with " + jarFileName + " beside it.\n";
    t += "# Windows paths are in single quotes: there a backslash is a backslash (in double quotes it starts an\n";
    t += "# escape, and \"C:\\tools\" would hold a TAB).\n\n";
    t += "[service]\n";
    t += "# The name /install registers and /start, /stop, /status, /uninstall take.\n";
    t += "name = " + quoted(name) + "\n\n";
    t += "[application]\n";
    if (facts.mainClass.empty()) {
        t +=
            "# FILL IN: the jar's manifest names no Main-Class; give the class whose main method starts the application.\n";
        t += "main_class = \"\"\n";
        notes->push_back(jarFileName + " names no Main-Class in its manifest: fill in main_class");
    } else {
        t += "main_class = " + quoted(facts.mainClass) + "\n";
    }
    t += "# Relative to the executable: the jar, then the Class-Path of its manifest.\n";
    t += "class_path = [\n    " + jar + ",\n";
    for (const std::string& url : facts.classPath) {
        std::string path = percentDecoded(url);
        if (path.find(':') != std::string::npos || path.rfind('/', 0) == 0) {
            notes->push_back("Class-Path entry " + url + " is not relative to the jar; left out");
            continue;
        }
        const bool dir = path.back() == '/';
        if (dir) path.pop_back();
        for (char& c : path)
            if (c == '/') c = '\\';
        t += std::string("    { ") + (dir ? "dir" : "jar") + " = " + tomlPath(path) + " },\n";
    }
    t += "]\n";
    if (!facts.moduleName.empty()) {
        t += "# Module mode instead (the jar is the module " + facts.moduleName +
             (facts.explicitModule ? ", by its module-info.class" : ", by its Automatic-Module-Name") + "):\n";
        t += "# replace main_class and class_path with\n";
        t += "# module_mode = true\n";
        t += "# main_class = " +
             quoted(facts.moduleName + "/" + (facts.mainClass.empty() ? "MainClass" : facts.mainClass)) + "\n";
        t += "# module_path = [" + jar + "]\n";
    }
    t += "\n[runtime]\n";
    t += "# Where to look for Java, in order (the default): a jre folder beside the executable, JAVA_HOME, the\n";
    t += "# registry, the program search path.\n";
    t += "search = [\"dir:jre\", \"env:JAVA_HOME\", \"registry\", \"path\"]\n\n";
    t += "[output]\n";
    t += "# Where the application's output goes, relative to the executable (the default; \"\" keeps it).\n";
    t += "stdout = 'logs\\stdout.log'\n";
    t += "stderr = 'logs\\stderr.log'\n";
    t += "append = true\n";
    return t;
}

int initCommand(const std::string& jarPath, const std::string& outPath, bool force) {
    namespace fs = std::filesystem;
    const fs::path jarFile(std::u8string(jarPath.begin(), jarPath.end()));
    const std::string out = outPath.empty() ? "vexlo.toml" : outPath;
    const fs::path outFile(std::u8string(out.begin(), out.end()));
    std::error_code ec;
    if (!force && fs::exists(outFile, ec)) {
        std::cerr << out << ": error: the file exists; --force overwrites it\n";
        return 1;
    }
    std::ifstream in(jarFile, std::ios::binary);
    std::vector<uint8_t> jar((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad() || fs::is_directory(jarFile, ec)) {
        std::cerr << jarPath << ": error: cannot read the file\n";
        return 1;
    }
    JarFacts facts;
    std::string error;
    if (!readJarFacts(jar, &facts, &error)) {
        std::cerr << jarPath << ": error: " << error << "\n";
        return 1;
    }
    std::u8string name = jarFile.filename().u8string();
    std::vector<std::string> notes;
    const std::string text = initToml(std::string(name.begin(), name.end()), facts, &notes);
    std::ofstream f(outFile, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) {
        std::cerr << out << ": error: cannot write the file\n";
        return 1;
    }
    std::cout << "wrote " << out << " (main class " << (facts.mainClass.empty() ? "to fill in" : facts.mainClass)
              << ", " << facts.classPath.size() << " Class-Path entries"
              << (facts.moduleName.empty() ? "" : ", module " + facts.moduleName) << ")\n";
    for (const std::string& n : notes) std::cerr << "note: " << n << "\n";
    return 0;
}

}  // namespace vexlo::pack
