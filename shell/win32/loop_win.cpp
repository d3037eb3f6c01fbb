#include "loop_win.h"

#include <mutex>

namespace tessaly::win32 {

namespace {

constexpr UINT kRunClosure = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;
constexpr wchar_t kClassName[] = L"TessalyLoop";

}  // namespace

// What a worker's Post needs, kept alive by the workers that hold it: the window is cleared
// under the lock when the loop goes, so a late post never reaches a window that is gone.
struct Win32Loop::Shared {
  std::mutex mutex;
  HWND hwnd = nullptr;
};

Win32Loop::Win32Loop() : shared_(std::make_shared<Shared>()) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // a second loop finds the class registered
  shared_->hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
  SetWindowLongPtrW(shared_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Loop::~Win32Loop() {
  HWND hwnd;
  {
    std::lock_guard lock(shared_->mutex);
    hwnd = shared_->hwnd;
    shared_->hwnd = nullptr;
  }
  KillTimer(hwnd, kTickTimer);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  MSG msg;
  while (PeekMessageW(&msg, hwnd, kRunClosure, kRunClosure, PM_REMOVE))
    delete reinterpret_cast<std::function<void()>*>(msg.lParam);
  DestroyWindow(hwnd);
}

void Win32Loop::Post(std::function<void()> fn) {
  auto* closure = new std::function<void()>(std::move(fn));
  std::lock_guard lock(shared_->mutex);
  if (!shared_->hwnd ||
      !PostMessageW(shared_->hwnd, kRunClosure, 0, reinterpret_cast<LPARAM>(closure)))
    delete closure;
}

void Win32Loop::StartTick(std::chrono::milliseconds period, std::function<void()> tick) {
  tick_ = std::move(tick);
  SetTimer(shared_->hwnd, kTickTimer, static_cast<UINT>(period.count()), nullptr);
}

void Win32Loop::StopTick() {
  KillTimer(shared_->hwnd, kTickTimer);
  tick_ = nullptr;
}

LRESULT CALLBACK Win32Loop::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<Win32Loop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == kRunClosure) {
    std::unique_ptr<std::function<void()>> closure(reinterpret_cast<std::function<void()>*>(lp));
    if (self && *closure) (*closure)();
    return 0;
  }
  if (msg == WM_TIMER && wp == kTickTimer) {
    if (self && self->tick_) {
      // The tick may stop or replace itself.
      const std::function<void()> tick = self->tick_;
      tick();
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

int Win32Loop::Run(HWND dialogWindow, std::function<bool(const MSG&)> ownsKeys,
                   std::function<bool(const MSG&)> takes) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (takes && takes(msg)) continue;
    if (dialogWindow && IsWindow(dialogWindow) && !(ownsKeys && ownsKeys(msg)) &&
        IsDialogMessageW(dialogWindow, &msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace tessaly::win32
