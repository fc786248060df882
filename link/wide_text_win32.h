#pragma once
// Text to and from UTF-16 for the wide-character calls, where the system's ANSI code page could
// not spell every name (a folder in Russian under an English Windows, say).
#include <windows.h>

#include <string>
#include <string_view>

namespace tk7v {

// `bytes` in the code page given (CP_UTF8, CP_ACP, 1251, …) as UTF-16.
inline std::wstring WideFrom(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(codePage, 0, bytes.data(), size, out.data(), n);
    return out;
}

inline std::string Utf8FromWide(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace tk7v
