// Task dialogs (comctl32 6), described once: the boxes with details, the export's progress dialog
// and the not-answering box are built from one description, and the two dialogs the program
// shows and closes itself share one piece of bookkeeping (TaskBox).
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "ports.h"

namespace tessaly::win32 {

struct TaskButton {
  int id;
  std::wstring caption;
  bool enabled = true;
  bool operator==(const TaskButton&) const = default;
};

struct TaskContent {
  std::wstring title, text;
  std::wstring details;  // shown on request; empty: none
  PCWSTR icon = nullptr;
  std::vector<TaskButton> buttons;  // none: an OK button
  int defaultButton = 0;
  int progress = -1;  // the bar's position, 0 to 1000; -1: no bar
  bool operator==(const TaskContent&) const = default;
};

// The task dialog's icon for a box's.
PCWSTR TaskIcon(BoxIcon icon);

// Runs content as a modal task dialog over owner (centred on it); returns once it has closed, with
// the id of the button that closed it (IDCANCEL for Escape and the frame, or when it could not
// be shown). callback and data as TaskDialogIndirect takes them.
int RunTaskDialog(HWND owner, const TaskContent& content, PFTASKDIALOGCALLBACK callback = nullptr,
                  LONG_PTR data = 0);

// A task dialog the program shows and closes without waiting for it. It runs from a posted
// closure (TaskDialogIndirect has a modal loop of its own) and is closed by a posted click, so
// that neither happens inside a call of the logic or inside the dialog's own callback. Clicks
// and Escape are the user's answers, passed on through the loop.
class TaskBox {
 public:
  // owner is asked when the dialog runs; answer gets the button the user clicked (IDCANCEL for
  // Escape or the frame); keepOpen: the dialog stays until the program closes it.
  TaskBox(UiLoop& loop, std::function<HWND()> owner, std::function<void(int button)> answer,
          bool keepOpen);
  TaskBox(const TaskBox&) = delete;
  TaskBox& operator=(const TaskBox&) = delete;

  // Shows the dialog, or brings the shown one up to date.
  void Show(TaskContent content);
  // Closes it as if its first button were clicked, marked as the program's own click; a run
  // still posted is called off.
  void Close();
  // The window it belongs to is gone: nothing more runs.
  void Stop() { stopped_ = true; }
  // The dialog while shown, else null.
  HWND Handle() const { return hwnd_; }

 private:
  static HRESULT CALLBACK Callback(HWND hwnd, UINT note, WPARAM wp, LPARAM, LONG_PTR data);
  void Run();
  void Apply(const TaskContent& content);

  UiLoop& loop_;
  std::function<HWND()> owner_;
  std::function<void(int)> answer_;
  const bool keepOpen_;
  TaskContent spec_;      // what is to be shown
  TaskContent applied_;   // what the shown dialog shows
  bool pending_ = false;  // a run is posted
  bool closing_ = false;  // closed by the program: the click is no user's
  bool stopped_ = false;
  HWND hwnd_ = nullptr;
};

}  // namespace tessaly::win32
