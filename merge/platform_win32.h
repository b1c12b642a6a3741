// What the Windows platform file offers the rest of the Windows program:
// the conversions between the program's UTF-8 names and the system's wide
// characters. Windows only.
#ifndef MERGE_PLATFORM_WIN32_H_
#define MERGE_PLATFORM_WIN32_H_

#include <string>

// `text` in the code page `codePage` (CP_UTF8, CP_ACP, ...) as wide
// characters.
std::wstring Widen(const std::string& text, unsigned codePage);

// Wide characters as UTF-8.
std::string Narrow(const std::wstring& wide);

#endif  // MERGE_PLATFORM_WIN32_H_
