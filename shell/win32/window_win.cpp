#include "window_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <map>

#include "dialogs_win.h"
#include "usertexts.h"

namespace tessaly::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TessalyMarcFun";
constexpr int kFirstControlId = 100;
// The not-answering box's buttons.
constexpr int kKeepWaitingId = 1001;
constexpr int kGiveUpId = 1002;

}  // namespace

// A task dialog the logic shows and closes without waiting for it: it is run from a posted
// closure (TaskDialogIndirect has a modal loop of its own) and closed by a posted click, so
// that neither happens inside a call of the logic or inside the dialog's own callback.
struct Win32Window::TaskBox {
  bool pending = false;  // a run is posted
  bool closing = false;  // closed by the program: the click is no user's
  HWND hwnd = nullptr;
  ExportProgress progress;
  NotAnsweringBox box;

  // Closes it as if button were clicked, marked as the program's own click; a run still posted
  // is called off.
  void Close(int button) {
    pending = false;
    if (hwnd && !closing) {
      closing = true;
      PostMessageW(hwnd, TDM_CLICK_BUTTON, button, 0);
    }
  }
};

Win32Window::Win32Window(UiLoop& loop)
    : loop_(loop),
      listHeight_(layout::Find("ListView1").rect.height),
      progress_(std::make_unique<TaskBox>()),
      notAnswering_(std::make_unique<TaskBox>()) {}

Win32Window::~Win32Window() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (font_) DeleteObject(font_);
  if (editFont_) DeleteObject(editFont_);
}

int Win32Window::Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

template <class F>
void Win32Window::Event(F&& f) {
  if (!logic_) return;
  try {
    f();
  } catch (...) {
    logic_->ShowCurrentFailure();
  }
}

void Win32Window::Create(TMarcFun& logic) {
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
  CreateWindowExW(0, kClassName, Wide(window.caption).c_str(),
                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, Scale(r.left), Scale(r.top),
                  Scale(r.width), Scale(r.height), nullptr, nullptr, instance, this);
  CreateControls();
  DragAcceptFiles(hwnd_, TRUE);
}

HWND Win32Window::Control(std::string_view name) const {
  for (const Item& item : items_)
    if (item.layout->name == name) return item.hwnd;
  return nullptr;
}

bool Win32Window::Editing() const { return list_ && ListView_GetEditControl(list_) != nullptr; }

HWND Win32Window::ProgressDialog() const { return progress_->hwnd; }
HWND Win32Window::NotAnsweringDialog() const { return notAnswering_->hwnd; }

void Win32Window::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  std::map<int, HFONT> fonts;
  auto fontOf = [&](int pixels) {
    HFONT& font = fonts[pixels];
    // Windows substitutes a face of the same character set where 宋体 is missing.
    if (!font)
      font = CreateFontW(-Scale(pixels), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, Wide(layout::kFontFace).c_str());
    return font;
  };
  const auto controls = layout::MainWindow();
  font_ = fontOf(controls.front().fontPixels);

  // The tab order is the order of creation: by the parent's place in it, then the control's own.
  std::vector<const layout::Control*> order;
  for (const layout::Control& c : controls.subspan(1)) order.push_back(&c);
  auto rank = [](const layout::Control* c) {
    const layout::Control* parent = c->parent.empty() ? nullptr : &layout::Find(c->parent);
    return parent ? std::pair{parent->tabOrder, c->tabOrder} : std::pair{c->tabOrder, -1};
  };
  std::stable_sort(order.begin(), order.end(), [&](auto* a, auto* b) { return rank(a) < rank(b); });

  for (const layout::Control* c : order) {
    const wchar_t* cls = nullptr;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    switch (c->kind) {
      case layout::Kind::Panel:
      case layout::Kind::Window:
        items_.push_back({c, nullptr});
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
      case layout::Kind::Memo:
        cls = WC_EDITW;
        style |= ES_MULTILINE | ES_AUTOVSCROLL;
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
    const int id = kFirstControlId + static_cast<int>(c - controls.data());
    const HWND hwnd =
        CreateWindowExW(exStyle, cls, Wide(c->caption).c_str(), style, 0, 0, 0, 0, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(c->fontPixels)), FALSE);
    items_.push_back({c, hwnd});
    if (c->kind == layout::Kind::ListView) list_ = hwnd;
  }
  for (auto& [pixels, font] : fonts)
    if (font != font_) editFont_ = font;  // one other size: Edit1's

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

int Win32Window::StackedTop(const layout::Control& control) const {
  // Top-aligned controls of the window stack in table order; a hidden one takes no room.
  int top = 0;
  for (const layout::Control& c : layout::MainWindow()) {
    if (&c == &control) break;
    if (c.parent.empty() && c.align == layout::Align::Top && c.visible)
      top += c.kind == layout::Kind::ListView ? std::max(listHeight_, 0) : c.rect.height;
  }
  return top;
}

void Win32Window::PlaceControls() {
  RECT client;
  GetClientRect(hwnd_, &client);
  for (const Item& item : items_) {
    const layout::Control& c = *item.layout;
    if (!item.hwnd) continue;
    int left = Scale(c.rect.left), top = Scale(c.rect.top);
    int w = Scale(c.rect.width), h = Scale(c.rect.height);
    if (!c.parent.empty()) {
      const layout::Control& parent = layout::Find(c.parent);
      left += Scale(parent.rect.left);
      top += Scale(parent.align == layout::Align::Top ? StackedTop(parent) : parent.rect.top);
    }
    if (c.kind == layout::Kind::Label) {
      // The label's size follows its text.
      RECT now;
      GetWindowRect(item.hwnd, &now);
      if (now.right > now.left) {
        w = now.right - now.left;
        h = now.bottom - now.top;
      }
    }
    if (c.kind == layout::Kind::ListView) h = Scale(std::max(listHeight_, 0));
    if (c.align == layout::Align::Top) {
      left = 0;
      top = Scale(StackedTop(c));
      w = client.right;
    }
    SetWindowPos(item.hwnd, nullptr, left, top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (list_) ShowWindow(list_, listHeight_ > 0 ? SW_SHOWNA : SW_HIDE);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32Window::FitColumns() {
  RECT client;
  GetClientRect(list_, &client);
  const int n = static_cast<int>(texts::kColumnCaptions.size());
  const int share = client.right / n;
  for (int i = 0; i < n; ++i)
    ListView_SetColumnWidth(list_, i, i == 0 ? share + client.right % n : share);
}

void Win32Window::PaintPanels(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  for (const layout::Control& c : layout::MainWindow()) {
    if (c.kind != layout::Kind::Panel || !c.visible) continue;
    const int top = c.align == layout::Align::Top ? StackedTop(c) : c.rect.top;
    RECT r{Scale(c.rect.left), Scale(top),
           c.align == layout::Align::Top ? client.right : Scale(c.rect.left + c.rect.width),
           Scale(top + c.rect.height)};
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  }
}

void Win32Window::Show() {
  Event([&] { logic_->FormShow(); });
  if (!IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

// View.

void Win32Window::SetLabel(LabelId label, const std::string& text) {
  const HWND hwnd = Control(label == LabelId::Label1 ? "Label1" : "Label2");
  const std::wstring wide = Wide(text);
  SetWindowTextW(hwnd, wide.c_str());
  const HDC dc = GetDC(hwnd);
  const HGDIOBJ old = SelectObject(dc, font_);
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
  for (const char* name : {"Button1", "Button5", "Button3", "Button4"})
    EnableWindow(Control(name), enabled);
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

void Win32Window::ShowExportProgress(const ExportProgress& progress) {
  TaskBox& b = *progress_;
  b.progress = progress;
  if (b.hwnd && !b.closing) {
    const std::wstring text = Wide(progress.text), title = Wide(progress.title);
    SetWindowTextW(b.hwnd, title.c_str());
    SendMessageW(b.hwnd, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(b.hwnd, TDM_SET_PROGRESS_BAR_POS, progress.permille, 0);
    SendMessageW(b.hwnd, TDM_ENABLE_BUTTON, IDCANCEL, progress.cancelEnabled);
  } else if (!b.pending) {
    b.pending = true;
    loop_.Post([this] { RunProgress(); });
  }
}

void Win32Window::CloseExportProgress() { progress_->Close(IDCANCEL); }

void Win32Window::RunProgress() {
  TaskBox& b = *progress_;
  if (!b.pending || destroyed_) return;  // closed before it could be shown
  b.pending = false;
  const std::wstring title = Wide(b.progress.title), text = Wide(b.progress.text),
                     cancel = Wide(b.progress.cancelCaption);
  const TASKDIALOG_BUTTON button{IDCANCEL, cancel.c_str()};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = hwnd_;
  config.dwFlags =
      TDF_SHOW_PROGRESS_BAR | TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.pszWindowTitle = title.c_str();
  config.pszContent = text.c_str();
  config.cButtons = 1;
  config.pButtons = &button;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);
  config.pfCallback = [](HWND hwnd, UINT note, WPARAM wp, LPARAM, LONG_PTR data) -> HRESULT {
    auto* self = reinterpret_cast<Win32Window*>(data);
    TaskBox& b = *self->progress_;
    switch (note) {
      case TDN_CREATED:
        b.hwnd = hwnd;
        b.closing = false;
        SendMessageW(hwnd, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, 1000));
        SendMessageW(hwnd, TDM_SET_PROGRESS_BAR_POS, b.progress.permille, 0);
        SendMessageW(hwnd, TDM_ENABLE_BUTTON, IDCANCEL, b.progress.cancelEnabled);
        break;
      case TDN_BUTTON_CLICKED:
        if (b.closing) return S_OK;
        // 取消 or Escape: the logic decides when the dialog goes.
        if (static_cast<int>(wp) == IDCANCEL)
          self->loop_.Post([self] { self->Event([&] { self->logic_->Cancel(); }); });
        return S_FALSE;
      case TDN_DESTROYED:
        b.hwnd = nullptr;
        b.closing = false;
        break;
    }
    return S_OK;
  };
  TaskDialogIndirect(&config, nullptr, nullptr, nullptr);
}

void Win32Window::ShowNotAnswering(const NotAnsweringBox& box) {
  TaskBox& b = *notAnswering_;
  b.box = box;
  if ((b.hwnd && !b.closing) || b.pending) return;
  b.pending = true;
  loop_.Post([this] { RunNotAnswering(); });
}

void Win32Window::CloseNotAnswering() {
  // A button the box has (it has no IDCANCEL one).
  notAnswering_->Close(kKeepWaitingId);
}

void Win32Window::RunNotAnswering() {
  TaskBox& b = *notAnswering_;
  if (!b.pending || destroyed_) return;
  b.pending = false;
  const std::wstring caption = Wide(b.box.caption), text = Wide(b.box.text),
                     details = Wide(b.box.details), keep = Wide(b.box.keepWaitingCaption),
                     giveUp = Wide(b.box.giveUpCaption);
  const TASKDIALOG_BUTTON buttons[] = {{kKeepWaitingId, keep.c_str()}, {kGiveUpId, giveUp.c_str()}};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  // Over the progress dialog when that is shown, else over the window.
  config.hwndParent = progress_->hwnd ? progress_->hwnd : hwnd_;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TD_WARNING_ICON;
  config.pszContent = text.c_str();
  if (!details.empty()) config.pszExpandedInformation = details.c_str();
  config.cButtons = 2;
  config.pButtons = buttons;
  config.nDefaultButton = kKeepWaitingId;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);
  config.pfCallback = [](HWND hwnd, UINT note, WPARAM wp, LPARAM, LONG_PTR data) -> HRESULT {
    auto* self = reinterpret_cast<Win32Window*>(data);
    TaskBox& b = *self->notAnswering_;
    switch (note) {
      case TDN_CREATED:
        b.hwnd = hwnd;
        b.closing = false;
        break;
      case TDN_BUTTON_CLICKED:
        if (!b.closing) {
          // 放弃 gives up; 继续等待, the frame and Escape keep waiting.
          const bool giveUp = static_cast<int>(wp) == kGiveUpId;
          self->loop_.Post([self, giveUp] {
            self->Event([&] { giveUp ? self->logic_->GiveUp() : self->logic_->KeepWaiting(); });
          });
        }
        b.closing = true;
        break;
      case TDN_DESTROYED:
        b.hwnd = nullptr;
        b.closing = false;
        break;
    }
    return S_OK;
  };
  TaskDialogIndirect(&config, nullptr, nullptr, nullptr);
}

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
      if (!items_.empty()) {
        PlaceControls();
        RECT outer;
        GetWindowRect(hwnd_, &outer);
        const int height = MulDiv(outer.bottom - outer.top, 96, dpi_);
        Event([&] { logic_->FormResize(height); });
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
      Event([&] { logic_->OpenFile(path); });
      return 0;
    }
    case WM_CLOSE: {
      bool close = true;
      Event([&] { close = logic_->FormCloseQuery(); });
      if (close) {
        Event([&] { logic_->FormClose(); });
        DestroyWindow(hwnd_);
      }
      return 0;
    }
    case WM_DESTROY:
      destroyed_ = true;
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
  const std::string_view name = controls[index].name;
  if (name == "Button1") Event([&] { logic_->Button1Click(); });
  if (name == "Button3") Event([&] { logic_->Button3Click(); });
  if (name == "Button4") Event([&] { logic_->Button4Click(); });
  if (name == "Button5") Event([&] { logic_->Button5Click(); });
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
      return !logic_->CaptionsEditable();
    }
    case LVN_ENDLABELEDITW: {
      const LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
      if (!item.pszText) return FALSE;  // cancelled
      const std::string text = Utf8(item.pszText);
      Event([&] { logic_->CaptionEdited(static_cast<std::size_t>(item.iItem), text); });
      return FALSE;  // the list asks for the caption again: the one the logic keeps
    }
  }
  return 0;
}

}  // namespace tessaly::win32
