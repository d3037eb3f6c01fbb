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

void RunTaskDialog(HWND owner, const TaskSpec& spec, PFTASKDIALOGCALLBACK callback, LONG_PTR data) {
  std::vector<TASKDIALOG_BUTTON> buttons;
  for (const TaskButton& b : spec.buttons) buttons.push_back({b.id, b.caption.c_str()});
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  if (spec.progress >= 0) config.dwFlags |= TDF_SHOW_PROGRESS_BAR;
  if (buttons.empty()) config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = spec.title.c_str();
  config.pszMainIcon = spec.icon;
  config.pszContent = spec.text.c_str();
  if (!spec.details.empty()) config.pszExpandedInformation = spec.details.c_str();
  config.cButtons = static_cast<UINT>(buttons.size());
  config.pButtons = buttons.empty() ? nullptr : buttons.data();
  config.nDefaultButton = spec.defaultButton;
  config.pfCallback = callback;
  config.lpCallbackData = data;
  TaskDialogIndirect(&config, nullptr, nullptr, nullptr);
}

TaskBox::TaskBox(UiLoop& loop, std::function<HWND()> owner, std::function<void(int)> answer,
                 bool keepOpen)
    : loop_(loop), owner_(std::move(owner)), answer_(std::move(answer)), keepOpen_(keepOpen) {}

void TaskBox::Show(TaskSpec spec) {
  spec_ = std::move(spec);
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
  const TaskSpec spec = spec_;
  RunTaskDialog(owner_(), spec, Callback, reinterpret_cast<LONG_PTR>(this));
}

// Only what changed: the texts of a shown dialog are set again only when they differ.
void TaskBox::Apply(const TaskSpec& spec) {
  if (spec.title != applied_.title) SetWindowTextW(hwnd_, spec.title.c_str());
  if (spec.text != applied_.text)
    SendMessageW(hwnd_, TDM_SET_ELEMENT_TEXT, TDE_CONTENT,
                 reinterpret_cast<LPARAM>(spec.text.c_str()));
  if (spec.progress >= 0) SendMessageW(hwnd_, TDM_SET_PROGRESS_BAR_POS, spec.progress, 0);
  for (const TaskButton& b : spec.buttons) SendMessageW(hwnd_, TDM_ENABLE_BUTTON, b.id, b.enabled);
  applied_ = spec;
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
