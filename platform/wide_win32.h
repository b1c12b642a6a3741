// The conversions between the program's UTF-8 names and the wide characters
// of the Windows API, for the Windows files of every folder. Windows only.
#ifndef PLATFORM_WIDE_WIN32_H_
#define PLATFORM_WIDE_WIN32_H_

#include <string>

// `text` in the code page `codePage` (CP_UTF8, CP_ACP, ...) as wide
// characters.
std::wstring Widen(const std::string& text, unsigned codePage);

// Wide characters as UTF-8.
std::string Narrow(const std::wstring& wide);

#endif  // PLATFORM_WIDE_WIN32_H_
