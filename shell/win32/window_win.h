// The main window as a native Win32 window: the view port over user32 and comctl32 6. It builds
// its controls from the shared layout, shows what TMarcFun tells it and passes the user's events
// on. The list is owner-data: it asks for the cells in view only, so a million rows cost no more
// than a screenful.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "layout.h"
#include "marcfn.h"
#include "ports.h"

namespace tessaly::win32 {

class Win32Loop;

class Win32Window final : public View {
 public:
  explicit Win32Window(UiLoop& loop);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window and its controls, hidden, for this logic.
  void Create(TMarcFun& logic);
  // Shows the window: FormShow (which maximizes it).
  void Show();

  HWND Handle() const { return hwnd_; }
  // A control by its layout name (Button1, ListView1, ...); null when there is none.
  HWND Control(std::string_view name) const;
  // The list's in-place editor is open: it takes Enter and Escape itself.
  bool Editing() const;

  // View.
  void SetLabel(LabelId label, const std::string& text) override;
  void SetCommandsEnabled(bool enabled) override;
  void Maximize() override;
  void SetListHeight(int height) override;
  void RowsReset() override;
  void RowsAppended(std::size_t first, std::size_t count) override;
  void RowChanged(std::size_t row) override;
  void ShowExportProgress(const ExportProgress& progress) override;
  void CloseExportProgress() override;
  void ShowNotAnswering(const NotAnsweringBox& box) override;
  void CloseNotAnswering() override;
  void Close() override;
  void Quit() override;

  // The open task dialogs (null when none): for tests.
  HWND ProgressDialog() const;
  HWND NotAnsweringDialog() const;

 private:
  struct TaskBox;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                   DWORD_PTR self);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Notify(NMHDR* header);
  void Command(int id);
  // Runs an event handler of the logic; a failure goes to its top-level failure display.
  template <class F>
  void Event(F&& f);
  void CreateControls();
  void PlaceControls();
  int StackedTop(const layout::Control& control) const;
  void FitColumns();
  void PaintPanels(HDC dc);
  int Scale(int pixels) const;
  void RunProgress();
  void RunNotAnswering();

  UiLoop& loop_;
  TMarcFun* logic_ = nullptr;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  HFONT font_ = nullptr;
  HFONT editFont_ = nullptr;
  struct Item {
    const layout::Control* layout;
    HWND hwnd;  // null for panels, which the window paints
  };
  std::vector<Item> items_;
  HWND list_ = nullptr;
  int listHeight_;
  std::wstring cellText_;  // the last cell handed to the list
  std::unique_ptr<TaskBox> progress_;
  std::unique_ptr<TaskBox> notAnswering_;
  bool destroyed_ = false;
};

}  // namespace tessaly::win32
