#include "window_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "dialogs_win.h"
#include "longtime.h"
#include "usertexts.h"

namespace tessaly::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TessalyMarcFun";
constexpr int kFirstControlId = 100;
// The not-answering box's buttons.
constexpr int kKeepWaitingId = 1001;
constexpr int kGiveUpId = 1002;

}  // namespace

Win32Window::Win32Window(UiLoop& loop)
    : loop_(loop),
      listHeight_(layout::Find(layout::Kind::ListView).rect.height),
      progress_(
          loop, [this] { return hwnd_; },
          // 取消, Escape or the frame: the presenter decides when the dialog goes.
          [this](int) { Event([&] { logic_->CancelExport(); }); }, true),
      notAnswering_(
          loop,
          // Over the progress dialog when that is shown, else over the window.
          [this] { return progress_.Handle() ? progress_.Handle() : hwnd_; },
          // 放弃 gives up; 继续等待, the frame and Escape keep waiting.
          [this](int button) {
            Event([&] { button == kGiveUpId ? logic_->GiveUp() : logic_->KeepWaiting(); });
          },
          false) {}

Win32Window::~Win32Window() {
  progress_.Stop();
  notAnswering_.Stop();
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (const auto& [pixels, font] : fonts_) DeleteObject(font);
}

template <class F>
void Win32Window::Event(F&& f) {
  if (!logic_) return;
  try {
    f();
  } catch (...) {
    logic_->ShowCurrentFailure();
  }
}

void Win32Window::Create(Presenter& logic) {
  logic_ = &logic;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  const HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  const layout::Control& window = layout::MainWindow().front();
  const layout::Rect& r = layout::kRestoredBounds;
  const auto scale = [&](int pixels) { return MulDiv(pixels, dpi_, 96); };
  CreateWindowExW(0, kClassName, Wide(window.caption).c_str(),
                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, scale(r.left), scale(r.top),
                  scale(r.width), scale(r.height), nullptr, nullptr, instance, this);
  CreateControls();
  DragAcceptFiles(hwnd_, TRUE);
}

HWND Win32Window::Control(std::string_view name) const {
  const auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

HWND Win32Window::Button(layout::Command command) const {
  return Control(layout::Find(command).name);
}

HWND Win32Window::Label(LabelId label) const { return Control(layout::Find(label).name); }

bool Win32Window::Editing() const { return list_ && ListView_GetEditControl(list_) != nullptr; }

HFONT Win32Window::Font(int pixels) {
  HFONT& font = fonts_[pixels];
  // Windows substitutes a face of the same character set where 宋体 is missing.
  if (!font)
    font = CreateFontW(-MulDiv(pixels, dpi_, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, Wide(layout::kFontFace).c_str());
  return font;
}

void Win32Window::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const auto table = layout::MainWindow();
  // The dialog manager's Tab follows the order of creation: the keyboard's order first, then
  // the controls that take no focus. Panels are the window's own painting.
  std::vector<const layout::Control*> order = layout::TabChain();
  for (const layout::Control& c : table)
    if (c.kind != layout::Kind::Window && c.kind != layout::Kind::Panel &&
        std::ranges::find(order, &c) == order.end())
      order.push_back(&c);

  for (const layout::Control* c : order) {
    const wchar_t* cls = nullptr;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    switch (c->kind) {
      case layout::Kind::Window:
      case layout::Kind::Panel:
        continue;
      case layout::Kind::Button:
        cls = WC_BUTTONW;
        style |= BS_PUSHBUTTON;
        break;
      case layout::Kind::Label:
        cls = WC_STATICW;
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case layout::Kind::Edit:
        cls = WC_EDITW;
        style |= ES_AUTOHSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case layout::Kind::ListView:
        cls = WC_LISTVIEWW;
        // No LVS_SHOWSELALWAYS: the highlight is hidden while the list has no focus.
        style |= LVS_REPORT | LVS_OWNERDATA | LVS_EDITLABELS | LVS_SINGLESEL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    }
    if (c->visible) style |= WS_VISIBLE;
    if (!c->enabled) style |= WS_DISABLED;
    if (c->tabOrder >= 0 && c->visible) style |= WS_TABSTOP;
    const int id = kFirstControlId + static_cast<int>(c - table.data());
    const HWND hwnd =
        CreateWindowExW(exStyle, cls, Wide(c->caption).c_str(), style, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c->fontPixels)), FALSE);
    controls_[c->name] = hwnd;
    if (c->kind == layout::Kind::ListView) list_ = hwnd;
  }

  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (std::size_t i = 0; i < texts::kColumnCaptions.size(); ++i) {
    std::wstring caption = Wide(texts::kColumnCaptions[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = caption.data();
    column.iSubItem = static_cast<int>(i);
    ListView_InsertColumn(list_, static_cast<int>(i), &column);
  }
  SetWindowSubclass(list_, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
  PlaceControls();
}

void Win32Window::PlaceControls() {
  RECT client;
  GetClientRect(hwnd_, &client);
  for (const layout::Place& p : layout::Places(client.right, listHeight_, dpi_)) {
    const HWND hwnd = Control(p.control->name);
    if (!hwnd) continue;
    int w = p.inWindow.width, h = p.inWindow.height;
    if (p.control->kind == layout::Kind::Label) {
      // The label's size follows its text.
      RECT now;
      GetWindowRect(hwnd, &now);
      if (now.right > now.left) {
        w = now.right - now.left;
        h = now.bottom - now.top;
      }
    }
    SetWindowPos(hwnd, nullptr, p.inWindow.left, p.inWindow.top, w, h,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (p.shown != ((GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0))
      ShowWindow(hwnd, p.shown ? SW_SHOWNA : SW_HIDE);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Window::FitColumns() {
  RECT client;
  GetClientRect(list_, &client);
  const std::vector<int> widths =
      layout::ColumnWidths(client.right, static_cast<int>(texts::kColumnCaptions.size()));
  for (std::size_t i = 0; i < widths.size(); ++i)
    ListView_SetColumnWidth(list_, static_cast<int>(i), widths[i]);
}

void Win32Window::PaintPanels(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  for (const layout::Place& p : layout::Places(client.right, listHeight_, dpi_)) {
    if (p.control->kind != layout::Kind::Panel || !p.shown) continue;
    const layout::Rect& at = p.inWindow;
    RECT r{at.left, at.top, at.left + at.width, at.top + at.height};
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  }
}

void Win32Window::Show() {
  Event([&] { logic_->Shown(); });
  if (!IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

// View.

void Win32Window::SetLabel(LabelId label, const std::string& text) {
  const HWND hwnd = Label(label);
  const std::wstring wide = Wide(text);
  SetWindowTextW(hwnd, wide.c_str());
  const HDC dc = GetDC(hwnd);
  const HGDIOBJ old = SelectObject(dc, Font(layout::Find(label).fontPixels));
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  SetWindowPos(hwnd, nullptr, 0, 0, size.cx, metrics.tmHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Shown now, not at the next quiet moment: a read's count moves on while it is watched.
  UpdateWindow(hwnd);
}

void Win32Window::SetCommandsEnabled(bool enabled) {
  for (const layout::Control& c : layout::MainWindow())
    if (c.command != layout::Command::None) EnableWindow(Button(c.command), enabled);
}

void Win32Window::Maximize() { ShowWindow(hwnd_, SW_SHOWMAXIMIZED); }

void Win32Window::SetListHeight(int height) {
  listHeight_ = height;
  PlaceControls();
}

void Win32Window::RowsReset() {
  ListView_SetItemCountEx(list_, static_cast<int>(logic_->RowCount()), 0);
  InvalidateRect(list_, nullptr, TRUE);
}

void Win32Window::RowsAppended(std::size_t, std::size_t) {
  ListView_SetItemCountEx(list_, static_cast<int>(logic_->RowCount()),
                          LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void Win32Window::RowChanged(std::size_t row) {
  ListView_RedrawItems(list_, static_cast<int>(row), static_cast<int>(row));
}

void Win32Window::ShowExportProgress(const ExportProgress& p) {
  progress_.Show({Wide(p.title),
                  Wide(p.text),
                  {},
                  nullptr,
                  {{IDCANCEL, Wide(p.cancelCaption), p.cancelEnabled}},
                  0,
                  p.permille});
}

void Win32Window::CloseExportProgress() { progress_.Close(); }

void Win32Window::ShowNotAnswering(const NotAnsweringBox& b) {
  notAnswering_.Show(
      {Wide(b.caption),
       Wide(b.text),
       Wide(b.details),
       TD_WARNING_ICON,
       {{kKeepWaitingId, Wide(b.keepWaitingCaption)}, {kGiveUpId, Wide(b.giveUpCaption)}},
       kKeepWaitingId,
       -1});
}

void Win32Window::CloseNotAnswering() { notAnswering_.Close(); }

void Win32Window::Close() { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

void Win32Window::Quit() { PostQuitMessage(0); }

// Messages.

LRESULT CALLBACK Win32Window::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  // No failure may cross the system's frames: one that got this far goes to the failure display.
  try {
    return self->Handle(msg, wp, lp);
  } catch (...) {
    if (self->logic_) self->logic_->ShowCurrentFailure();
  }
  return 0;
}

LRESULT CALLBACK Win32Window::ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR data) {
  const LRESULT result = DefSubclassProc(hwnd, msg, wp, lp);
  // Every change of the list's size shares its width out again.
  if (msg == WM_SIZE) reinterpret_cast<Win32Window*>(data)->FitColumns();
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ListProc, 1);
  return result;
}

LRESULT Win32Window::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      if (!controls_.empty()) {
        PlaceControls();
        RECT outer;
        GetWindowRect(hwnd_, &outer);
        const int height = MulDiv(outer.bottom - outer.top, 96, dpi_);
        Event([&] { logic_->Resized(height); });
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(hwnd_, &ps);
      PaintPanels(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && lp) {
        // A click sent to a disabled button (BM_CLICK) still arrives here: it is no click.
        if (!IsWindowEnabled(reinterpret_cast<HWND>(lp))) return 0;
        Command(LOWORD(wp));
      }
      return 0;
    case WM_NOTIFY:
      return Notify(reinterpret_cast<NMHDR*>(lp));
    case WM_DROPFILES: {
      const HDROP drop = reinterpret_cast<HDROP>(wp);
      const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
      std::wstring name(length, L'\0');
      DragQueryFileW(drop, 0, name.data(), length + 1);
      DragFinish(drop);
      const std::filesystem::path path(name);
      Event([&] { logic_->Open(path); });
      return 0;
    }
    case WM_CLOSE: {
      bool close = true;
      Event([&] { close = logic_->CloseRequested(); });
      if (close) {
        Event([&] { logic_->Closed(); });
        DestroyWindow(hwnd_);
      }
      return 0;
    }
    case WM_SETTINGCHANGE:
      // The user changed the regional settings: the next elapsed time follows the new pattern.
      if (lp && lstrcmpiW(reinterpret_cast<LPCWSTR>(lp), L"intl") == 0)
        Event([&] { logic_->SetTimeFormat(UserLongTimeFormat()); });
      break;
    case WM_DESTROY:
      progress_.Stop();
      notAnswering_.Stop();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      list_ = nullptr;
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

void Win32Window::Command(int id) {
  const auto controls = layout::MainWindow();
  const std::size_t index = static_cast<std::size_t>(id - kFirstControlId);
  if (id < kFirstControlId || index >= controls.size()) return;
  const layout::Command command = controls[index].command;
  Event([&] { logic_->Run(command); });
}

LRESULT Win32Window::Notify(NMHDR* header) {
  if (header->hwndFrom != list_) return 0;
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
      if (!(item.mask & LVIF_TEXT) || item.cchTextMax <= 0) return 0;
      const auto row = static_cast<std::size_t>(item.iItem);
      const auto column = static_cast<std::size_t>(item.iSubItem);
      cellText_ = row < logic_->RowCount() ? Wide(logic_->Cell(row, column)) : std::wstring();
      auto n = std::min(cellText_.size(), static_cast<std::size_t>(item.cchTextMax - 1));
      // A cut never splits a character written in two UTF-16 units.
      if (n > 0 && n < cellText_.size() && IS_HIGH_SURROGATE(cellText_[n - 1])) --n;
      cellText_.copy(item.pszText, n);
      item.pszText[n] = L'\0';
      return 0;
    }
    case LVN_KEYDOWN:
      // F2 edits the selected row's caption, which the control does not do by itself.
      if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_F2) {
        const int selected = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
        if (selected >= 0) ListView_EditLabel(list_, selected);
      }
      return 0;
    case LVN_BEGINLABELEDITW: {
      // Refused while an export reads the list (TRUE refuses); a disabled list still takes keys.
      return !logic_->TitlesEditable();
    }
    case LVN_ENDLABELEDITW: {
      const LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
      if (!item.pszText) return FALSE;  // cancelled
      const std::string text = Utf8(item.pszText);
      Event([&] { logic_->TitleEdited(static_cast<std::size_t>(item.iItem), text); });
      return FALSE;  // the list asks for the caption again: the one the logic keeps
    }
  }
  return 0;
}

}  // namespace tessaly::win32
