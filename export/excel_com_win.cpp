// Excel over OLE Automation. Every call goes through IDispatch: the members of Excel's dual
// interfaces are looked up by name, the range's Item is put by its published dispatch id.
#include "excel_com_win.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <climits>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>

namespace tessaly {

namespace {

// Published identifiers of Excel's type library.
constexpr CLSID kExcelApplicationClass = {
    0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kApplicationInterface = {
    0x000208D5, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kWorksheetInterface = {
    0x000208D8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID kRangeItem = 170;

// In-process or local server: Excel registers itself as a local server.
constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
// Every call passes locale id 0, so Excel takes its arguments the same way whatever the user's
// regional settings are.
constexpr LCID kLocale = 0;
// Where the thread's locale has no ANSI code page, the record texts are still GBK.
constexpr UINT kGbkCodePage = 936;

// Owns one reference to a COM interface.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* adopted) : p_(adopted) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Reset(); }

  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the out parameter of QueryInterface and friends.
  void** Out() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }
  VARIANT* operator&() { return &v_; }
  VARIANT& Get() { return v_; }

 private:
  VARIANT v_;
};

class Bstr {
 public:
  explicit Bstr(BSTR adopted) : s_(adopted) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(s_); }
  BSTR Get() const { return s_; }

 private:
  BSTR s_;
};

// The exception information of one Invoke; frees its strings.
struct ExceptionInfo {
  EXCEPINFO info{};
  ExceptionInfo() = default;
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  ~ExceptionInfo() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

// Blanks, control characters and full stops (the ideographic one included) at the end of a
// message: system messages end in ".\r\n", and the failure display adds its own full stop.
bool TrimmedAtEnd(wchar_t c) {
  return c <= L' ' || (c >= 0x7F && c <= 0xA0) || c == L'.' || c == 0x3000 /* 　 */ ||
         c == 0x3002 /* 。 */ || c == 0xFF0E /* ． */;
}

std::wstring TrimEnd(std::wstring text) {
  while (!text.empty() && TrimmedAtEnd(text.back())) text.pop_back();
  return text;
}

std::wstring SystemMessage(HRESULT code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n > 0 && buffer ? std::wstring(buffer, n) : std::wstring();
  LocalFree(buffer);
  return text;
}

// The user's text for a failed call: Excel's description when it gave one (the exception
// information of Invoke, filled in late when Excel defers it), else the system's message for
// the code, else "OLE error" and the code.
std::string FailureText(HRESULT hr, EXCEPINFO* info = nullptr) {
  HRESULT code = hr;
  std::wstring text;
  if (hr == DISP_E_EXCEPTION && info) {
    if (info->pfnDeferredFillIn) {
      info->pfnDeferredFillIn(info);
      info->pfnDeferredFillIn = nullptr;
    }
    if (info->bstrDescription) {
      text = TrimEnd(std::wstring(info->bstrDescription, SysStringLen(info->bstrDescription)));
    }
    if (info->scode != 0) code = info->scode;
  }
  if (text.empty()) text = TrimEnd(SystemMessage(code));
  if (!text.empty()) return ToUtf8(text);
  char fallback[32];
  std::snprintf(fallback, sizeof fallback, "OLE error %.8lx", static_cast<unsigned long>(code));
  return fallback;
}

[[noreturn]] void Fail(HRESULT hr, EXCEPINFO* info = nullptr) {
  throw AutomationError(FailureText(hr, info));
}

DISPID MemberId(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id);
  if (FAILED(hr)) Fail(hr);
  return id;
}

// One call through IDispatch::Invoke. args are in IDispatch's order, the last argument first;
// a property put passes its value first, as the named argument DISPID_PROPERTYPUT.
void Invoke(IDispatch* object, DISPID member, WORD flags, VARIANT* args, UINT count,
            VARIANT* result) {
  DISPID put_id = DISPID_PROPERTYPUT;
  const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
  DISPPARAMS params{count > 0 ? args : nullptr, put ? &put_id : nullptr, count, put ? 1u : 0u};
  ExceptionInfo error;
  UINT bad_argument = 0;
  const HRESULT hr =
      object->Invoke(member, IID_NULL, kLocale, flags, &params, result, &error.info, &bad_argument);
  if (FAILED(hr)) Fail(hr, &error.info);
}

// A call whose result is an object.
Ref<IDispatch> InvokeForObject(IDispatch* object, DISPID member, WORD flags,
                               VARIANT* args = nullptr, UINT count = 0) {
  Variant result;
  Invoke(object, member, flags, args, count, &result);
  VARIANT& v = result.Get();
  Ref<IDispatch> out;
  if (v.vt == VT_DISPATCH && v.pdispVal) {
    out = Ref<IDispatch>(std::exchange(v.pdispVal, nullptr));
    v.vt = VT_EMPTY;
  } else if (v.vt == VT_UNKNOWN && v.punkVal) {
    const HRESULT hr = v.punkVal->QueryInterface(IID_IDispatch, out.Out());
    if (FAILED(hr)) Fail(hr);
  } else {
    Fail(DISP_E_TYPEMISMATCH);
  }
  return out;
}

Ref<IDispatch> GetObjectProperty(IDispatch* object, const wchar_t* name) {
  return InvokeForObject(object, MemberId(object, name), DISPATCH_PROPERTYGET);
}

void PutTrue(IDispatch* object, const wchar_t* name) {
  const DISPID id = MemberId(object, name);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  Invoke(object, id, DISPATCH_PROPERTYPUT, &value, 1, nullptr);
}

VARIANT Int32(std::int32_t n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

// The code page of the thread's locale, or GBK's where that locale has none (Unicode-only
// locales).
UINT RecordCodePage(marc::TextEncoding encoding) {
  if (encoding == marc::TextEncoding::Utf8) return CP_UTF8;
  DWORD ansi = 0;
  if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<wchar_t*>(&ansi), sizeof ansi / sizeof(wchar_t)) == 0 ||
      ansi == CP_ACP) {
    return kGbkCodePage;
  }
  return CP_THREAD_ACP;
}

// The whole text as an automation string; the empty text as an empty string, not a null one.
BSTR ToBstr(std::string_view text, marc::TextEncoding encoding) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw AutomationError("A cell's text is too long to be sent to Excel");
  }
  const UINT code_page = RecordCodePage(encoding);
  const int size = static_cast<int>(text.size());
  int n = 0;
  if (size > 0) {
    n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (n == 0) Fail(HRESULT_FROM_WIN32(GetLastError()));
  }
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (!s) Fail(E_OUTOFMEMORY);
  if (n > 0) MultiByteToWideChar(code_page, 0, text.data(), size, s, n);
  return s;
}

class ExcelComApplication final : public SpreadsheetApplication {
 public:
  explicit ExcelComApplication(ExcelConnect connect) : connect_(connect) {}
  ~ExcelComApplication() override {
    DisconnectWorksheet();
    DisconnectWorkbook();
    DisconnectApplication();
  }

  void ConnectApplication() override {
    if (application_) return;
    EnterApartment();
    try {
      Ref<IUnknown> excel;
      HRESULT hr = GetActiveObject(kExcelApplicationClass, nullptr,
                                   reinterpret_cast<IUnknown**>(excel.Out()));
      if (FAILED(hr) && connect_ == ExcelConnect::RunningOrNew) {
        hr = CoCreateInstance(kExcelApplicationClass, nullptr, kCreateContext, IID_IUnknown,
                              excel.Out());
      }
      if (FAILED(hr)) throw ConnectError("Excel cannot be reached: " + FailureText(hr));
      // _Application is a dual interface, so its pointer is an IDispatch too.
      hr = excel->QueryInterface(kApplicationInterface, application_.Out());
      if (FAILED(hr)) {
        throw ConnectError("The object registered as Excel has no application interface: " +
                           FailureText(hr));
      }
    } catch (...) {
      LeaveApartment();
      throw;
    }
  }

  void AddWorkbook() override {
    IDispatch* application = Connected(application_);
    const Ref<IDispatch> workbooks = GetObjectProperty(application, L"Workbooks");
    const DISPID add = MemberId(workbooks.Get(), L"Add");
    // The template is passed as null, not left out.
    VARIANT no_template;
    VariantInit(&no_template);
    no_template.vt = VT_NULL;
    Ref<IDispatch> workbook =
        InvokeForObject(workbooks.Get(), add, DISPATCH_METHOD, &no_template, 1);
    DisconnectWorkbook();
    workbook_ = std::move(workbook);
  }

  void AttachFirstWorksheet() override {
    IDispatch* workbook = Connected(workbook_);
    const Ref<IDispatch> sheets = GetObjectProperty(workbook, L"Worksheets");
    VARIANT index = Int32(1);
    const Ref<IDispatch> first = InvokeForObject(sheets.Get(), DISPID_VALUE,
                                                 DISPATCH_METHOD | DISPATCH_PROPERTYGET, &index, 1);
    Ref<IDispatch> worksheet;
    const HRESULT hr = first->QueryInterface(kWorksheetInterface, worksheet.Out());
    if (FAILED(hr)) Fail(hr);
    DisconnectWorksheet();
    worksheet_ = std::move(worksheet);
  }

  void SetVisible() override { PutTrue(Connected(application_), L"Visible"); }

  void PutCell(std::int32_t row, std::int32_t column, std::string_view text,
               marc::TextEncoding encoding) override {
    IDispatch* worksheet = Connected(worksheet_);
    const Bstr value(ToBstr(text, encoding));
    VARIANT args[3];  // Item(row, column) = value, last argument first
    VariantInit(&args[0]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = value.Get();
    args[1] = Int32(column);
    args[2] = Int32(row);
    if (cells_ == DISPID_UNKNOWN) cells_ = MemberId(worksheet, L"Cells");
    // A fresh range for every cell, over the whole sheet from its top-left cell.
    const Ref<IDispatch> range = InvokeForObject(worksheet, cells_, DISPATCH_PROPERTYGET);
    Invoke(range.Get(), kRangeItem, DISPATCH_PROPERTYPUT, args, 3, nullptr);
  }

  void DisconnectWorksheet() noexcept override {
    worksheet_.Reset();
    cells_ = DISPID_UNKNOWN;
  }
  void DisconnectWorkbook() noexcept override { workbook_.Reset(); }
  // Only releases: Excel stays running with whatever it shows.
  void DisconnectApplication() noexcept override {
    if (!application_) return;
    application_.Reset();
    LeaveApartment();
  }

 private:
  static IDispatch* Connected(const Ref<IDispatch>& component) {
    if (!component) throw AutomationError("Excel is not connected");
    return component.Get();
  }

  // Excel's proxies need an apartment; the GUI thread normally has one already, which is then
  // only counted once more here.
  void EnterApartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
      throw ConnectError("COM cannot be used on this thread: " + FailureText(hr));
    }
    entered_apartment_ = SUCCEEDED(hr);
  }
  void LeaveApartment() noexcept {
    if (std::exchange(entered_apartment_, false)) CoUninitialize();
  }

  const ExcelConnect connect_;
  bool entered_apartment_ = false;
  Ref<IDispatch> application_;
  Ref<IDispatch> workbook_;
  Ref<IDispatch> worksheet_;
  DISPID cells_ = DISPID_UNKNOWN;
};

}  // namespace

std::unique_ptr<SpreadsheetApplication> MakeExcelComApplication(ExcelConnect connect) {
  return std::make_unique<ExcelComApplication>(connect);
}

}  // namespace tessaly
