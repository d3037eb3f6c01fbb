// The dialogs port on Win32: the common open dialog, and boxes as message boxes, or as task
// dialogs where they carry details (shown on request, as expanded information).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "filebytes.h"
#include "ports.h"

namespace tessaly::win32 {

inline std::wstring Wide(std::string_view utf8) { return marc::WidePath(utf8); }
inline std::string Utf8(std::wstring_view wide) { return marc::Narrow(wide); }

class Win32Dialogs final : public Dialogs {
 public:
  // The window the dialogs are modal to (may change once the window exists).
  void SetOwner(HWND owner) { owner_ = owner; }

  std::optional<std::filesystem::path> OpenFile(const std::filesystem::path& initial,
                                                const std::filesystem::path& fileName) override;
  void ShowBox(const Box& box) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace tessaly::win32
