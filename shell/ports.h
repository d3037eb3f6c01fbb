// What a skin (the Qt window, the Win32 window, a test's fakes) implements for the window's logic
// (Presenter), and nothing else: the logic decides, a skin shows what it is told and passes the
// user's events on. Texts are UTF-8; file names are std::filesystem::path (UTF-16 on Windows,
// bytes on Linux), so that no name goes through an 8-bit code page.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tessaly {

// The labels the presenter sets: the rows read so far, and after a read its elapsed time and
// the file's encoding.
enum class LabelId { RowCount, Elapsed };

enum class BoxIcon { None, Information, Warning, Error };

// A modal message box with one OK button, centred; details are shown on request.
struct Box {
  std::string caption;
  std::string text;
  std::string details;  // empty: none
  BoxIcon icon = BoxIcon::None;
};

// The export's progress dialog, modal to the window: its 取消 (or closing it) calls
// Presenter::CancelExport.
struct ExportProgress {
  std::string title;
  std::string text;
  int permille = 0;  // of the bar, 0 to 1000
  std::string cancelCaption;
  bool cancelEnabled = true;
};

// The box that says the spreadsheet does not answer, modal to the window (or to the progress
// dialog when that is shown), not to the loop: its buttons call Presenter::KeepWaiting and
// Presenter::GiveUp; closing it by its frame or Escape counts as KeepWaiting.
struct NotAnsweringBox {
  std::string caption;
  std::string text;
  std::string details;
  std::string keepWaitingCaption;  // the default button
  std::string giveUpCaption;
};

class View {
 public:
  virtual ~View() = default;
  // The label's width follows its text.
  virtual void SetLabel(LabelId label, const std::string& text) = 0;
  // The buttons that run commands (layout::Command), together. A click that arrives while they
  // are disabled still reaches the logic, which ignores it.
  virtual void SetCommandsEnabled(bool enabled) = 0;
  virtual void Maximize() = 0;
  // The list's height (layout::Places places it); zero or less: the list is not shown.
  virtual void SetListHeight(int height) = 0;
  // The rows Presenter::RowCount/Cell tell: all replaced (emptied), rows added at the end, one
  // row's caption changed.
  virtual void RowsReset() = 0;
  virtual void RowsAppended(std::size_t first, std::size_t count) = 0;
  virtual void RowChanged(std::size_t row) = 0;
  // Shows the dialog, or updates it when shown.
  virtual void ShowExportProgress(const ExportProgress& progress) = 0;
  virtual void CloseExportProgress() = 0;
  virtual void ShowNotAnswering(const NotAnsweringBox& box) = 0;
  virtual void CloseNotAnswering() = 0;
  // Closes the main window as the user would (Presenter::CloseRequested, then Closed), after an
  // export that held the closing back has stopped.
  virtual void Close() = 0;
  // Ends the loop, queued: it ends once the running handler has returned.
  virtual void Quit() = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // The file-open dialog: starts in initial's folder (initial may name a file), offers
  // fileName, lists every file, accepts a name that does not exist. The confirmed full path, or
  // nothing on cancel.
  virtual std::optional<std::filesystem::path> OpenFile(const std::filesystem::path& initial,
                                                        const std::filesystem::path& fileName) = 0;
  // Modal; returns when the user has closed it.
  virtual void ShowBox(const Box& box) = 0;
};

class UiLoop {
 public:
  virtual ~UiLoop() = default;
  // From any thread: fn runs on the GUI thread, in the order posted. After the loop has ended
  // the closure may be dropped unrun.
  virtual void Post(std::function<void()> fn) = 0;
  // On the GUI thread: tick runs there every period until StopTick; a second StartTick
  // replaces the first.
  virtual void StartTick(std::chrono::milliseconds period, std::function<void()> tick) = 0;
  virtual void StopTick() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic, from any fixed point.
  virtual std::chrono::milliseconds Now() const = 0;
};

// std::chrono::steady_clock.
class SteadyClock : public Clock {
 public:
  std::chrono::milliseconds Now() const override;
};

// Runs work on a thread of its own; the logic keeps alive what the work uses and learns of its
// end through a flag the work sets last.
class Workers {
 public:
  virtual ~Workers() = default;
  virtual void Start(std::function<void()> work) = 0;
  // Waits up to limit for done (the program is ending and the work was told to stop); true
  // when it came.
  virtual bool WaitFor(const std::atomic<bool>& done, std::chrono::milliseconds limit) = 0;
};

// Detached std::threads.
class ThreadWorkers : public Workers {
 public:
  void Start(std::function<void()> work) override;
  bool WaitFor(const std::atomic<bool>& done, std::chrono::milliseconds limit) override;
};

}  // namespace tessaly
