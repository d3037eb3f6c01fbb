// The window's texts are UTF-8; Windows takes and gives UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tessaly::win32 {

inline std::wstring Wide(std::string_view utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

// A lone surrogate becomes U+FFFD.
inline std::string Utf8(std::wstring_view wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}

}  // namespace tessaly::win32
