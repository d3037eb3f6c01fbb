#include "dialogs_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "taskdialog_win.h"
#include "usertexts.h"

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

std::optional<std::filesystem::path> Win32Dialogs::SaveFile(const SaveRequest& request) {
  std::vector<wchar_t> name(32768, L'\0');
  request.suggested.filename().wstring().copy(name.data(), name.size() - 1);
  const std::wstring folder = request.suggested.parent_path().wstring();
  const std::wstring title = Wide(request.title), extension = Wide(request.extension);
  // Pairs of a shown name and its pattern, each ended by a NUL, the list by a second.
  std::wstring filter;
  if (!extension.empty()) {
    const std::wstring pattern = L"*." + extension;
    filter += Wide(request.typeName) + L" (" + pattern + L")" + L'\0' + pattern + L'\0';
  }
  filter += Wide(texts::kAllFiles) + L" (*.*)" + L'\0' + L"*.*" + L'\0';
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // Asks before replacing a file; the folder must exist; the process's current folder stays.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR |
              OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN;
  if (!GetSaveFileNameW(&ofn)) return std::nullopt;
  return std::filesystem::path(name.data());
}

namespace {

// The task dialog's ids of a box's own buttons, clear of IDOK, IDCANCEL and the other common ids.
constexpr int kFirstButtonId = 1000;

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

std::size_t Win32Dialogs::ShowBox(const Box& box) {
  const std::wstring caption = Wide(box.caption), text = Wide(box.text);
  // Owned by the window it is modal to, so that the window takes no input meanwhile; a box
  // without a window is centred on the screen by itself.
  if (box.details.empty() && box.buttons.empty()) {
    MessageBoxW(owner_, text.c_str(), caption.c_str(), MB_OK | BoxStyle(box.icon));
    return 0;
  }
  TaskContent content;
  content.title = caption;
  content.text = text;
  content.details = Wide(box.details);
  content.icon = TaskIcon(box.icon);
  for (std::size_t i = 0; i < box.buttons.size(); ++i)
    content.buttons.push_back({kFirstButtonId + static_cast<int>(i), Wide(box.buttons[i])});
  if (!content.buttons.empty()) content.defaultButton = kFirstButtonId;
  // Escape and the frame give IDCANCEL, which, as OK, means the first.
  const int chosen = RunTaskDialog(owner_, content) - kFirstButtonId;
  return chosen > 0 && static_cast<std::size_t>(chosen) < box.buttons.size()
             ? static_cast<std::size_t>(chosen)
             : 0;
}

}  // namespace tessaly::win32
