// Start-up of the Windows program: COM as a single-threaded apartment on the GUI thread, the
// window and the export module (unconnected), a file given on the command line, the loop, and
// exit status 0.
#include <windows.h>

// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "dialogs_win.h"
#include "longtime.h"
#include "loop_win.h"
#include "marc2excel.h"
#include "presenter.h"
#include "window_win.h"

namespace {

// System-DPI aware: positions and fonts scale with the setting the session started with. The
// newer call first; wine 8 and older Windows have only the older ones (the manifest says the
// same for the systems that read it).
void BecomeDpiAware() {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using Context = BOOL(WINAPI*)(HANDLE);
  if (auto set = reinterpret_cast<Context>(
          reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext"))))
    if (set(reinterpret_cast<HANDLE>(-2) /* DPI_AWARENESS_CONTEXT_SYSTEM_AWARE */)) return;
  SetProcessDPIAware();
}

std::filesystem::path ProgramPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace tessaly;
  BecomeDpiAware();
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  {
    win32::Win32Loop loop;
    win32::Win32Dialogs dialogs;
    SteadyClock clock;
    win32::Win32Window window(loop);
    Presenter logic(window, dialogs, loop, clock);
    window.Create(logic);
    dialogs.SetOwner(window.Handle());
    logic.SetProgramPath(ProgramPath());
    logic.SetTimeFormat(UserLongTimeFormat());
    try {
      // Created unconnected: nothing reaches the spreadsheet before the first export.
      TMarc2ExcelFm module;
      logic.SetExportModule(&module);
      window.Show();
      int argc = 0;
      if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        if (argc > 1) {
          const std::filesystem::path file(argv[1]);
          loop.Post([&logic, file] { logic.Open(file); });
        }
        LocalFree(argv);
      }
      win32::Win32Loop::Run(window.Handle(), [&](const MSG&) { return window.Editing(); });
      logic.SetExportModule(nullptr);
    } catch (...) {
      logic.ShowCurrentFailure();
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
