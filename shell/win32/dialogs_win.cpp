#include "dialogs_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

namespace tessaly::win32 {

std::optional<std::filesystem::path> Win32Dialogs::OpenFile(const std::filesystem::path& initial,
                                                            const std::filesystem::path& fileName) {
  // The dialog wants a folder: the program's own file stands for its folder.
  std::error_code ec;
  const std::wstring folder = std::filesystem::is_directory(initial, ec)
                                  ? initial.wstring()
                                  : initial.parent_path().wstring();
  std::vector<wchar_t> name(32768, L'\0');
  fileName.wstring().copy(name.data(), name.size() - 1);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  // No filter, one file, no read-only box, resizable; the name need not exist (a missing file
  // is the read's to report), and the process's current folder stays as it was.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return std::filesystem::path(name.data());
}

namespace {

PCWSTR TaskIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return TD_INFORMATION_ICON;
    case BoxIcon::Warning:
      return TD_WARNING_ICON;
    case BoxIcon::Error:
      return TD_ERROR_ICON;
    case BoxIcon::None:
      break;
  }
  return nullptr;
}

UINT BoxStyle(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return MB_ICONINFORMATION;
    case BoxIcon::Warning:
      return MB_ICONWARNING;
    case BoxIcon::Error:
      return MB_ICONERROR;
    case BoxIcon::None:
      break;
  }
  return 0;
}

}  // namespace

void Win32Dialogs::ShowBox(const Box& box) {
  const std::wstring caption = Wide(box.caption), text = Wide(box.text);
  // Owned by the window it is modal to, so that the window takes no input meanwhile; a box
  // without a window is centred on the screen by itself.
  if (box.details.empty()) {
    MessageBoxW(owner_, text.c_str(), caption.c_str(), MB_OK | BoxStyle(box.icon));
    return;
  }
  const std::wstring details = Wide(box.details);
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner_;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TaskIcon(box.icon);
  config.pszContent = text.c_str();
  config.pszExpandedInformation = details.c_str();
  TaskDialogIndirect(&config, nullptr, nullptr, nullptr);
}

}  // namespace tessaly::win32
