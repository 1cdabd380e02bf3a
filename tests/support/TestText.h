// Small text and path helpers that many tests share.
#pragma once

#include <string>
#include <vector>

namespace vexlo::test {

// Lines of CR LF text, without their line ends; no trailing empty line.
std::vector<std::string> splitCrLfLines(const std::string& text);

// Lines ended by LF or CR LF (what Java writes depends on the code that writes), without their line ends; no
// trailing empty line.
std::vector<std::string> splitLines(const std::string& text);

// The long form of an existing path; empty when Windows cannot give it.
std::wstring longPathOf(const std::wstring& path);

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b);

std::string lowerAscii(std::string text);

}  // namespace vexlo::test
