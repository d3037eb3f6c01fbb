#include "taskdialog_win.h"

namespace tessaly::win32 {

PCWSTR TaskIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return TD_INFORMATION_ICON;
    case BoxIcon::Warning:
      return TD_WARNING_ICON;
    case BoxIcon::Error:
      return TD_ERROR_ICON;
    case BoxIcon::None:
      break;
  }
  return nullptr;
}

int RunTaskDialog(HWND owner, const TaskContent& content, PFTASKDIALOGCALLBACK callback,
                  LONG_PTR data) {
  std::vector<TASKDIALOG_BUTTON> buttons;
  for (const TaskButton& b : content.buttons) buttons.push_back({b.id, b.caption.c_str()});
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  if (content.progress >= 0) config.dwFlags |= TDF_SHOW_PROGRESS_BAR;
  if (buttons.empty()) config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = content.title.c_str();
  config.pszMainIcon = content.icon;
  config.pszContent = content.text.c_str();
  if (!content.details.empty()) config.pszExpandedInformation = content.details.c_str();
  config.cButtons = static_cast<UINT>(buttons.size());
  config.pButtons = buttons.empty() ? nullptr : buttons.data();
  config.nDefaultButton = content.defaultButton;
  config.pfCallback = callback;
  config.lpCallbackData = data;
  int button = IDCANCEL;
  if (FAILED(TaskDialogIndirect(&config, &button, nullptr, nullptr))) return IDCANCEL;
  return button;
}

TaskBox::TaskBox(UiLoop& loop, std::function<HWND()> owner, std::function<void(int)> answer,
                 bool keepOpen)
    : loop_(loop), owner_(std::move(owner)), answer_(std::move(answer)), keepOpen_(keepOpen) {}

void TaskBox::Show(TaskContent content) {
  spec_ = std::move(content);
  if (hwnd_ && !closing_) {
    Apply(spec_);
  } else if (!pending_) {
    pending_ = true;
    loop_.Post([this] { Run(); });
  }
}

void TaskBox::Close() {
  pending_ = false;
  if (hwnd_ && !closing_ && !spec_.buttons.empty()) {
    closing_ = true;
    PostMessageW(hwnd_, TDM_CLICK_BUTTON, spec_.buttons.front().id, 0);
  }
}

void TaskBox::Run() {
  if (!pending_ || stopped_) return;  // closed before it could be shown
  pending_ = false;
  const TaskContent content = spec_;
  RunTaskDialog(owner_(), content, Callback, reinterpret_cast<LONG_PTR>(this));
}

// Only what changed: the texts of a shown dialog are set again only when they differ.
void TaskBox::Apply(const TaskContent& content) {
  if (content.title != applied_.title) SetWindowTextW(hwnd_, content.title.c_str());
  if (content.text != applied_.text)
    SendMessageW(hwnd_, TDM_SET_ELEMENT_TEXT, TDE_CONTENT,
                 reinterpret_cast<LPARAM>(content.text.c_str()));
  if (content.progress >= 0) SendMessageW(hwnd_, TDM_SET_PROGRESS_BAR_POS, content.progress, 0);
  for (const TaskButton& b : content.buttons)
    SendMessageW(hwnd_, TDM_ENABLE_BUTTON, b.id, b.enabled);
  applied_ = content;
}

HRESULT CALLBACK TaskBox::Callback(HWND hwnd, UINT note, WPARAM wp, LPARAM, LONG_PTR data) {
  auto* self = reinterpret_cast<TaskBox*>(data);
  switch (note) {
    case TDN_CREATED:
      self->hwnd_ = hwnd;
      self->closing_ = false;
      self->applied_ = self->spec_;
      if (self->spec_.progress >= 0) {
        SendMessageW(hwnd, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, 1000));
        SendMessageW(hwnd, TDM_SET_PROGRESS_BAR_POS, self->spec_.progress, 0);
      }
      for (const TaskButton& b : self->spec_.buttons)
        SendMessageW(hwnd, TDM_ENABLE_BUTTON, b.id, b.enabled);
      break;
    case TDN_BUTTON_CLICKED: {
      if (self->closing_) return S_OK;
      const int button = static_cast<int>(wp);
      self->loop_.Post([self, button] { self->answer_(button); });
      if (self->keepOpen_) return S_FALSE;  // the program decides when it goes
      self->closing_ = true;
      return S_OK;
    }
    case TDN_DESTROYED:
      self->hwnd_ = nullptr;
      self->closing_ = false;
      break;
  }
  return S_OK;
}

}  // namespace tessaly::win32
