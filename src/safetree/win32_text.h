// Texts and paths at the Windows boundary, once for every Windows source: UTF-16 from and
// to the launcher's ANSI code page texts and the unzip's UTF-8 names, and the long-path
// form. The one place besides the platform layer's win32.h (which includes this) that
// includes <windows.h>.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace zorvex::safetree {

// The text in the code page as UTF-16; an invalid sequence becomes U+FFFD.
inline std::wstring WideFrom(const std::string& text, UINT code_page = CP_UTF8) {
  if (text.empty()) return L"";
  const int size = static_cast<int>(text.size());
  int n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), n);
  return wide;
}

// The UTF-16 text in the code page; what it cannot hold becomes its default character.
inline std::string NarrowFrom(const std::wstring& wide, UINT code_page = CP_UTF8) {
  if (wide.empty()) return "";
  const int size = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

// The absolute, "\\?\"-prefixed form of a path, for the calls that then take paths beyond
// 260 characters; a prefixed path stays as it is, a UNC path becomes "\\?\UNC\...".
inline std::wstring LongPathOf(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace zorvex::safetree
