// The UI loop port on Win32: closures posted from any thread to a message-only window of the GUI
// thread, and a repeating tick from SetTimer. Closures run in the order posted, also inside the
// modal loops of boxes and dialogs (they dispatch the thread's messages too).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>

#include "ports.h"

namespace tessaly::win32 {

class Win32Loop final : public UiLoop {
 public:
  // On the GUI thread.
  Win32Loop();
  // Closures posted and not yet run are freed unrun; later posts are dropped.
  ~Win32Loop() override;
  Win32Loop(const Win32Loop&) = delete;
  Win32Loop& operator=(const Win32Loop&) = delete;

  void Post(std::function<void()> fn) override;
  void StartTick(std::chrono::milliseconds period, std::function<void()> tick) override;
  void StopTick() override;

  // Runs the thread's messages until WM_QUIT; dialog keys (Tab, arrows) go to dialogWindow's
  // controls unless its filter says a control of its own takes them. A message that takes says
  // it has handled goes no further (the window's own keys). Returns WM_QUIT's code.
  static int Run(HWND dialogWindow, std::function<bool(const MSG&)> ownsKeys = {},
                 std::function<bool(const MSG&)> takes = {});

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::function<void()> tick_;
};

}  // namespace tessaly::win32
