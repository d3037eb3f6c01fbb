#include "dialogs_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "taskdialog_win.h"

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
  TaskSpec spec;
  spec.title = caption;
  spec.text = text;
  spec.details = Wide(box.details);
  spec.icon = TaskIcon(box.icon);
  RunTaskDialog(owner_, spec);
}

}  // namespace tessaly::win32
