// The main window as a native Win32 window: the view port over user32 and comctl32 6. It builds
// its controls from the layout table, puts them where the layout says, shows what the presenter
// tells it and passes the user's events on. The list is owner-data: it asks for the cells in view
// only, so a million rows cost no more than a screenful.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "layout.h"
#include "ports.h"
#include "presenter.h"
#include "taskdialog_win.h"

namespace tessaly::win32 {

class Win32Window final : public View {
 public:
  explicit Win32Window(UiLoop& loop);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window and its controls, hidden, for this presenter.
  void Create(Presenter& logic);
  // Shows the window (the presenter maximizes it).
  void Show();

  HWND Handle() const { return hwnd_; }
  // A control by its layout name (Button1, ListView1, ...); null when there is none (panels are
  // painted by the window).
  HWND Control(std::string_view name) const;
  HWND Button(layout::Command command) const;
  HWND Label(LabelId label) const;
  HWND List() const { return list_; }
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
  HWND ProgressDialog() const { return progress_.Handle(); }
  HWND NotAnsweringDialog() const { return notAnswering_.Handle(); }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                   DWORD_PTR self);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Notify(NMHDR* header);
  void Command(int id);
  // Runs an event handler of the presenter; a failure goes to its top-level failure display.
  template <class F>
  void Event(F&& f);
  void CreateControls();
  HFONT Font(int pixels);
  void PlaceControls();
  void FitColumns();
  void PaintPanels(HDC dc);

  UiLoop& loop_;
  Presenter* logic_ = nullptr;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  std::map<int, HFONT> fonts_;  // by character height
  std::map<std::string_view, HWND> controls_;
  HWND list_ = nullptr;
  int listHeight_;
  std::wstring cellText_;  // the last cell handed to the list
  TaskBox progress_;
  TaskBox notAnswering_;
};

}  // namespace tessaly::win32
