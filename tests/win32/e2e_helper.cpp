// The Windows side of tessaly_e2e.sh, run under wine beside tessaly.exe:
//   e2e_helper register STATE   the fake Excel (a local server beside this program) as Excel
//   e2e_helper label TEXT       waits until the window's row count (Label1) reads TEXT (UTF-8)
//   e2e_helper idle             waits until the window's commands are available again
//   e2e_helper cells STATE      prints what the fake received, a line per sheet row, TAB between
//                               cells, escaped as marcrows escapes them
//   e2e_helper stop STATE       ends the fake Excel and removes its registration
// Waits give up after 60 s with status 1.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fake_excel.h"

namespace {

std::wstring Guid(const CLSID& clsid) {
  wchar_t text[64];
  StringFromGUID2(clsid, text, 64);
  return text;
}

const std::wstring kClassKey = L"CLSID\\" + Guid(fake_excel::kExcelApplicationClass);

HWND MainWindow() { return FindWindowW(L"TessalyMarcFun", nullptr); }

template <class Done>
int WaitFor(Done done) {
  for (int i = 0; i < 600; ++i) {
    if (done()) return 0;
    Sleep(100);
  }
  std::fputs("e2e_helper: gave up waiting\n", stderr);
  return 1;
}

std::wstring Text(HWND hwnd) {
  wchar_t text[512] = L"";
  GetWindowTextW(hwnd, text, 512);
  return text;
}

std::string Escaped(const std::wstring& cell) {
  std::string out;
  for (char c : fake_excel::Utf8(cell)) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring command = argv[1], arg = argc > 2 ? argv[2] : L"";
  if (command == L"register") {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    fake_excel::RegisterExcelInterfaces();
    const std::wstring server = L"\"" + fake_excel::ProgramFolder() +
                                L"fake_excel_server.exe\" --state \"" + arg + L"\" --clsid " +
                                Guid(fake_excel::kExcelApplicationClass);
    const LSTATUS status = RegSetKeyValueW(
        HKEY_CLASSES_ROOT, (kClassKey + L"\\LocalServer32").c_str(), nullptr, REG_SZ,
        server.c_str(), static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    CoUninitialize();
    return status == ERROR_SUCCESS ? 0 : 1;
  }
  if (command == L"label") {
    const std::wstring want = fake_excel::Wide(fake_excel::Utf8(arg));
    return WaitFor([&] {
      // The row count (Label1) is the window's first static control.
      const HWND label = FindWindowExW(MainWindow(), nullptr, L"Static", nullptr);
      return label && Text(label) == want;
    });
  }
  if (command == L"idle") {
    return WaitFor([] {
      const HWND main = MainWindow();
      const HWND open = FindWindowExW(main, nullptr, L"Button", nullptr);
      return open && IsWindowEnabled(open) && IsWindowEnabled(main);
    });
  }
  if (command == L"cells" || command == L"stop") {
    const auto state = fake_excel::ReadServerState(arg);
    if (!state) return 1;
    if (command == L"stop") {
      PostThreadMessageW(state->thread, WM_QUIT, 0, 0);
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
      return 0;
    }
    // Rows in order; a cell never written is empty.
    std::map<int, std::vector<std::string>> rows;
    for (const auto& [key, text] : state->cells) {
      const auto [book, r, c] = key;
      if (book != state->workbooks - 1 || c < 1) continue;  // the last workbook added
      auto& cells = rows[r];
      if (cells.size() < static_cast<std::size_t>(c)) cells.resize(static_cast<std::size_t>(c));
      cells[static_cast<std::size_t>(c) - 1] = Escaped(text);
    }
    for (auto& [r, cells] : rows) {
      cells.resize(std::max<std::size_t>(cells.size(), 13));
      std::string line;
      for (std::size_t c = 0; c < cells.size(); ++c) line += (c ? "\t" : "") + cells[c];
      std::printf("%s\n", line.c_str());
    }
    return 0;
  }
  return 2;
}
