// The dialogs port on Win32: the common open dialog, and boxes as message boxes, or as task
// dialogs where they carry details (shown on request, as expanded information).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "ports.h"
#include "utf16.h"

namespace tessaly::win32 {

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
