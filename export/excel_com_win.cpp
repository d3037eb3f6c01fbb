// Excel over OLE Automation. Every call goes through IDispatch: the members of Excel's dual
// interfaces are looked up by name, the range's Item is put by its published dispatch id. The
// calls run on a thread of the backend's own; the caller hands each one over and waits for it,
// or for the user to give up.
#include "excel_com_win.h"

#include "usertexts.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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
// WPS Office's spreadsheet: its current ProgID, then the one of older versions.
constexpr const wchar_t* kWpsProgIds[] = {L"KET.Application", L"ET.Application"};

// In-process or local server: Excel registers itself as a local server.
constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
// Every call passes locale id 0, so Excel takes its arguments the same way whatever the user's
// regional settings are.
constexpr LCID kLocale = 0;
// How often a rejected call is tried again.
constexpr DWORD kRetryIntervalMs = 100;

// The user's texts for the ends that are the backend's own.
constexpr const char* kNotAnswering = texts::kExcelGivenUp;
constexpr const char* kBusy = texts::kExcelBusy;
constexpr const char* kNotConnected = texts::kExcelNotConnected;
constexpr const char* kTooLong = texts::kCellTooLong;

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

// What the backend and its thread share. The thread owns the references into the application
// and releases them before it ends; the caller only hands over jobs and reads their outcome.
struct Session {
  explicit Session(const ExcelComOptions& o) : options(o) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    for (HANDLE h : {job_ready, job_done, abandon_event, thread}) {
      if (h) CloseHandle(h);
    }
  }

  const ExcelComOptions options;
  HANDLE job_ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE job_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE abandon_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  DWORD thread_id = 0;
  std::atomic<bool> abandoned{false};
  std::atomic<bool> quit{false};

  // The job in hand and how it ended; passed between the threads through the two events.
  std::function<void()> job;
  std::exception_ptr error;

  // The thread's own.
  HRESULT apartment = E_UNEXPECTED;
  bool filter_gave_up = false;
  bool wps = false;
  Ref<IDispatch> application;
  Ref<IDispatch> workbook;
  Ref<IDispatch> worksheet;
  DISPID cells = DISPID_UNKNOWN;
  DISPID range = DISPID_UNKNOWN;  // the worksheet's Range
  DISPID value = DISPID_UNKNOWN;  // a range's Value
  // Arrays refused by the first block (or never tried): the export goes on cell by cell.
  bool cell_by_cell = false;
  bool array_taken = false;  // an array put has succeeded in this export
  int element_limit = kArrayElementLimit;
};

// Retries the calls that a busy application rejects, inside COM, for up to the busy limit; and
// cancels a waiting call once the user has given up (where COM lets a call be cancelled).
class MessageFilter final : public IMessageFilter {
 public:
  explicit MessageFilter(Session& session) : session_(session) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMessageFilter)) {
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
    return SERVERCALL_ISHANDLED;
  }
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsed_ms, DWORD) override {
    if (session_.abandoned) return static_cast<DWORD>(-1);
    if (elapsed_ms < Limit()) return kRetryIntervalMs;
    session_.filter_gave_up = true;
    return static_cast<DWORD>(-1);
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return session_.abandoned ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  ULONGLONG Limit() const { return static_cast<ULONGLONG>(session_.options.busy_limit.count()); }
  Session& session_;
  std::atomic<ULONG> refs_{1};
};

[[noreturn]] void Fail(const Session& s, HRESULT hr, EXCEPINFO* info = nullptr) {
  if (hr == RPC_E_CALL_CANCELED || s.abandoned) throw AutomationError(kNotAnswering);
  throw AutomationError(FailureText(hr, info));
}

// Makes a call, and makes it again while the application rejects it: every 100 ms, up to the
// busy limit, or until the user gives up. COM retries through the message filter first where it
// consults one (Windows); where it does not, the rejection arrives here.
template <class F>
HRESULT Retrying(Session& s, F&& call) {
  const ULONGLONG start = GetTickCount64();
  const auto limit = static_cast<ULONGLONG>(s.options.busy_limit.count());
  for (;;) {
    s.filter_gave_up = false;
    const HRESULT hr = call();
    if (hr != RPC_E_CALL_REJECTED && hr != RPC_E_SERVERCALL_RETRYLATER) return hr;
    if (s.abandoned) throw AutomationError(kNotAnswering);
    if (s.filter_gave_up || GetTickCount64() - start >= limit) throw AutomationError(kBusy);
    if (WaitForSingleObject(s.abandon_event, kRetryIntervalMs) == WAIT_OBJECT_0) {
      throw AutomationError(kNotAnswering);
    }
  }
}

DISPID MemberId(Session& s, IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr =
      Retrying(s, [&] { return object->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id); });
  if (FAILED(hr)) Fail(s, hr);
  return id;
}

// One call through IDispatch::Invoke. args are in IDispatch's order, the last argument first;
// a property put passes its value first, as the named argument DISPID_PROPERTYPUT.
void Invoke(Session& s, IDispatch* object, DISPID member, WORD flags, VARIANT* args, UINT count,
            VARIANT* result) {
  DISPID put_id = DISPID_PROPERTYPUT;
  const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
  DISPPARAMS params{count > 0 ? args : nullptr, put ? &put_id : nullptr, count, put ? 1u : 0u};
  ExceptionInfo error;
  const HRESULT hr = Retrying(s, [&] {
    UINT bad_argument = 0;
    return object->Invoke(member, IID_NULL, kLocale, flags, &params, result, &error.info,
                          &bad_argument);
  });
  if (FAILED(hr)) Fail(s, hr, &error.info);
}

HRESULT Query(Session& s, IUnknown* object, const IID& iid, void** out) {
  return Retrying(s, [&] { return object->QueryInterface(iid, out); });
}

// A call whose result is an object.
Ref<IDispatch> InvokeForObject(Session& s, IDispatch* object, DISPID member, WORD flags,
                               VARIANT* args = nullptr, UINT count = 0) {
  Variant result;
  Invoke(s, object, member, flags, args, count, &result);
  VARIANT& v = result.Get();
  Ref<IDispatch> out;
  if (v.vt == VT_DISPATCH && v.pdispVal) {
    out = Ref<IDispatch>(std::exchange(v.pdispVal, nullptr));
    v.vt = VT_EMPTY;
  } else if (v.vt == VT_UNKNOWN && v.punkVal) {
    const HRESULT hr = Query(s, v.punkVal, IID_IDispatch, out.Out());
    if (FAILED(hr)) Fail(s, hr);
  } else {
    Fail(s, DISP_E_TYPEMISMATCH);
  }
  return out;
}

Ref<IDispatch> GetObjectProperty(Session& s, IDispatch* object, const wchar_t* name) {
  return InvokeForObject(s, object, MemberId(s, object, name), DISPATCH_PROPERTYGET);
}

// A property whose value is a number (a count).
std::int64_t GetNumber(Session& s, IDispatch* object, const wchar_t* name) {
  Variant result;
  Invoke(s, object, MemberId(s, object, name), DISPATCH_PROPERTYGET, nullptr, 0, &result);
  Variant number;
  const HRESULT hr = VariantChangeType(&number, &result, 0, VT_I8);
  if (FAILED(hr)) Fail(s, hr);
  return number.Get().llVal;
}

// The sheet as the worksheet component holds it: as _Worksheet, which WPS may answer only
// through its own interfaces, where its IDispatch serves the same calls.
Ref<IDispatch> Worksheet(Session& s, IDispatch* sheet) {
  Ref<IDispatch> worksheet;
  HRESULT hr = Query(s, sheet, kWorksheetInterface, worksheet.Out());
  if (FAILED(hr) && s.wps) hr = Query(s, sheet, IID_IDispatch, worksheet.Out());
  if (FAILED(hr)) Fail(s, hr);
  return worksheet;
}

VARIANT Int32(std::int32_t n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

IDispatch* Connected(const Ref<IDispatch>& component) {
  if (!component) throw AutomationError(kNotConnected);
  return component.Get();
}

// The application component's connect, on the backend's thread: a running Excel, a new Excel,
// then WPS's spreadsheet the same two ways.
void Connect(Session& s) {
  if (FAILED(s.apartment)) {
    throw ConnectError(texts::ExcelComUnusable(FailureText(s.apartment)));
  }
  struct Candidate {
    CLSID clsid;
    bool wps;
  };
  std::vector<Candidate> candidates{{kExcelApplicationClass, false}};
  for (const wchar_t* prog_id : kWpsProgIds) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(prog_id, &clsid))) continue;
    // Both ProgIDs may name the same class.
    if (!IsEqualCLSID(clsid, candidates.back().clsid)) candidates.push_back({clsid, true});
  }
  Ref<IUnknown> found;
  HRESULT excel_hr = S_OK;
  for (const Candidate& c : candidates) {
    HRESULT hr = GetActiveObject(c.clsid, nullptr, reinterpret_cast<IUnknown**>(found.Out()));
    if (FAILED(hr) && s.options.connect == ExcelConnect::RunningOrNew) {
      hr = CoCreateInstance(c.clsid, nullptr, kCreateContext, IID_IUnknown, found.Out());
    }
    if (!c.wps) excel_hr = hr;
    if (SUCCEEDED(hr) && found) {
      s.wps = c.wps;
      break;
    }
    found.Reset();
  }
  if (!found) throw ConnectError(texts::ExcelCannotConnect(FailureText(excel_hr)));
  // _Application is a dual interface, so its pointer is an IDispatch too. WPS may answer
  // Excel's model through its own interfaces; there its IDispatch serves the same calls.
  HRESULT hr = Query(s, found.Get(), kApplicationInterface, s.application.Out());
  if (FAILED(hr) && s.wps) hr = Query(s, found.Get(), IID_IDispatch, s.application.Out());
  if (FAILED(hr)) {
    s.application.Reset();
    throw ConnectError(texts::ExcelNoApplication(FailureText(hr)));
  }
}

DWORD WINAPI RunSession(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Session>> owner(
      static_cast<std::shared_ptr<Session>*>(parameter));
  Session& s = **owner;
  s.apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  MessageFilter* filter = nullptr;
  if (SUCCEEDED(s.apartment)) {
    filter = new MessageFilter(s);
    if (FAILED(CoRegisterMessageFilter(filter, nullptr))) {
      filter->Release();
      filter = nullptr;
    }
  }
  for (;;) {
    // An apartment's thread keeps its messages flowing while it waits.
    const DWORD r =
        MsgWaitForMultipleObjectsEx(1, &s.job_ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      continue;
    }
    if (r != WAIT_OBJECT_0 || s.quit) break;
    try {
      s.job();
      s.error = nullptr;
    } catch (...) {
      s.error = std::current_exception();
    }
    s.job = nullptr;
    SetEvent(s.job_done);
  }
  s.worksheet.Reset();
  s.workbook.Reset();
  s.application.Reset();
  if (filter) {
    CoRegisterMessageFilter(nullptr, nullptr);
    filter->Release();
  }
  if (SUCCEEDED(s.apartment)) CoUninitialize();
  return 0;
}

// Waits for one of the handles. A caller in a single-threaded apartment waits in COM's modal
// loop, as it would in a call of its own: an object of its apartment may be serving the very
// calls waited for, and the loop leaves the user's input alone. The index of the handle, or
// `count` when the wait failed.
DWORD WaitFor(const HANDLE* handles, DWORD count) {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  if (SUCCEEDED(CoGetApartmentType(&type, &qualifier)) &&
      (type == APTTYPE_STA || type == APTTYPE_MAINSTA)) {
    DWORD index = 0;
    const HRESULT hr =
        CoWaitForMultipleHandles(0, INFINITE, count, const_cast<HANDLE*>(handles), &index);
    return SUCCEEDED(hr) ? index : count;
  }
  const DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
  return r < WAIT_OBJECT_0 + count ? r - WAIT_OBJECT_0 : count;
}

// Owns one automation string.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(BSTR adopted) : s_(adopted) {}
  Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) SysFreeString(std::exchange(s_, std::exchange(other.s_, nullptr)));
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(s_); }
  BSTR Get() const { return s_; }
  BSTR Release() { return std::exchange(s_, nullptr); }
  UINT Length() const { return SysStringLen(s_); }

 private:
  BSTR s_ = nullptr;
};

// What is put into a cell for a text: the text as UTF-16, cut to Excel's limit without splitting
// a surrogate pair, behind an apostrophe. Excel and WPS take a text put into a General cell as
// if it were typed ("0012" becomes 12, "2001.10" 2001.1, "1-2" a date, "=..." a formula), the
// elements of an array put as much as single puts; the apostrophe makes them keep it as text,
// unchanged, as the cell's prefix character, not part of its value, with no cell format set. (A
// text format, "@", set beforehand would keep the text too, but Excel shows "####" for a
// text-formatted cell of more than 255 characters, and summaries are often longer.) A text that
// begins with an apostrophe itself gets one more. The empty text goes as it is: there is nothing
// to take for anything else.
Bstr CellValue(std::string_view utf8, bool& cut) {
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) throw AutomationError(kTooLong);
  const int size = static_cast<int>(utf8.size());
  cut = false;
  if (size == 0) {
    Bstr empty(SysAllocStringLen(nullptr, 0));
    if (!empty.Get()) throw std::bad_alloc();
    return empty;
  }
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n <= 0) throw AutomationError(FailureText(HRESULT_FROM_WIN32(GetLastError())));
  cut = n > kExcelCellLimit;
  UINT keep = static_cast<UINT>(n);
  std::wstring cut_text;
  if (cut) {
    cut_text.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, cut_text.data(), n);
    keep = kExcelCellLimit;
    if (IS_HIGH_SURROGATE(cut_text[keep - 1])) --keep;  // a pair is kept whole or not at all
  }
  Bstr value(SysAllocStringLen(nullptr, keep + 1));
  if (!value.Get()) throw std::bad_alloc();
  value.Get()[0] = L'\'';
  if (cut) {
    std::wmemcpy(value.Get() + 1, cut_text.data(), keep);
  } else {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, value.Get() + 1, n);
  }
  return value;
}

// The column's letters in an A1 address: 1 is A, 27 AA.
std::wstring ColumnLetters(std::int32_t column) {
  std::wstring letters;
  for (; column > 0; column = (column - 1) / 26) {
    letters.insert(letters.begin(), static_cast<wchar_t>(L'A' + (column - 1) % 26));
  }
  return letters;
}

// "A2:M501".
std::wstring RangeAddress(std::int32_t top, std::int32_t left, std::int32_t rows,
                          std::int32_t columns) {
  return ColumnLetters(left) + std::to_wstring(top) + L":" + ColumnLetters(left + columns - 1) +
         std::to_wstring(top + rows - 1);
}

// Cells gathered for one write: rows of `width` cells from (top, left), the last row perhaps
// shorter; the values row by row.
struct Block {
  std::int32_t top = 0;
  std::int32_t left = 0;
  std::int32_t width = 0;
  std::int32_t rows = 0;
  std::size_t bytes = 0;
  std::vector<Bstr> values;

  bool Empty() const { return values.empty(); }
  std::int32_t InLastRow() const {
    return static_cast<std::int32_t>(values.size()) - (rows - 1) * width;
  }
  void Start(std::int32_t row, std::int32_t column) {
    top = row;
    left = column;
    width = 0;
    rows = 1;
  }
  void Add(Bstr value) {
    if (rows == 1) ++width;
    bytes += SysStringByteLen(value.Get());
    values.push_back(std::move(value));
  }
};

// One cell put on its own: a fresh Cells range over the whole sheet, its Item(row, column) put
// by the published dispatch id.
void PutOne(Session& s, std::int32_t row, std::int32_t column, BSTR value) {
  IDispatch* worksheet = Connected(s.worksheet);
  VARIANT args[3];  // Item(row, column) = value, last argument first
  VariantInit(&args[0]);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = value;
  args[1] = Int32(column);
  args[2] = Int32(row);
  if (s.cells == DISPID_UNKNOWN) s.cells = MemberId(s, worksheet, L"Cells");
  const Ref<IDispatch> range = InvokeForObject(s, worksheet, s.cells, DISPATCH_PROPERTYGET);
  Invoke(s, range.Get(), kRangeItem, DISPATCH_PROPERTYPUT, args, 3, nullptr);
}

// What an application that cannot take arrays answers (an older WPS): member or type unknown.
bool RefusesArrays(HRESULT hr) {
  return hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_TYPEMISMATCH || hr == E_NOTIMPL ||
         hr == DISP_E_UNKNOWNNAME;
}

// A SAFEARRAY of VARIANTs whose strings are borrowed from the block, which keeps them for the
// cells that go on their own afterwards: they are taken out again before the array goes.
struct BorrowingArray {
  SAFEARRAY* p = nullptr;
  std::size_t elements = 0;
  BorrowingArray() = default;
  BorrowingArray(const BorrowingArray&) = delete;
  BorrowingArray& operator=(const BorrowingArray&) = delete;
  ~BorrowingArray() {
    if (!p) return;
    VARIANT* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(p, reinterpret_cast<void**>(&data)))) {
      for (std::size_t i = 0; i < elements; ++i) VariantInit(&data[i]);
      SafeArrayUnaccessData(p);
      SafeArrayDestroy(p);
    }
    // Otherwise leaked rather than freeing the block's strings twice.
  }
};

// Range(address).Value = array of `rows` x `columns` VARIANTs, each a VT_BSTR taken from values
// (row by row, from `first`; borrowed), or empty where a text is longer than an array element
// may be (`long_cells` gets their indices). An array typed VT_BSTR would be stored as raw text, and
// a one-dimensional one would repeat its first row on every row. Returns the put's result: a
// refusal is the caller's to judge.
HRESULT PutArray(Session& s, std::int32_t top, std::int32_t left, std::int32_t rows,
                 std::int32_t columns, const std::vector<Bstr>& values, std::size_t first,
                 std::vector<std::size_t>& long_cells, std::string& failure) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 1}};
  BorrowingArray array;
  array.p = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (!array.p) throw std::bad_alloc();
  array.elements = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  VARIANT* data = nullptr;
  if (FAILED(SafeArrayAccessData(array.p, reinterpret_cast<void**>(&data)))) throw std::bad_alloc();
  // The first index runs fastest: element (r, c) lies at c * rows + r.
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::int32_t c = 0; c < columns; ++c) {
      const std::size_t at = first + static_cast<std::size_t>(r) * columns + c;
      if (values[at].Length() > static_cast<UINT>(s.element_limit)) {
        long_cells.push_back(at);
        continue;  // VT_EMPTY: the cell stays empty until put on its own
      }
      VARIANT& element = data[static_cast<std::size_t>(c) * rows + r];
      element.vt = VT_BSTR;
      element.bstrVal = values[at].Get();
    }
  }
  SafeArrayUnaccessData(array.p);

  IDispatch* worksheet = Connected(s.worksheet);
  if (s.range == DISPID_UNKNOWN) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Range")};
    const HRESULT hr = Retrying(
        s, [&] { return worksheet->GetIDsOfNames(IID_NULL, names, 1, kLocale, &s.range); });
    if (FAILED(hr)) {
      s.range = DISPID_UNKNOWN;
      failure = FailureText(hr);
      return hr;
    }
  }
  const Bstr address(SysAllocString(RangeAddress(top, left, rows, columns).c_str()));
  if (!address.Get()) throw std::bad_alloc();
  VARIANT cell1;
  VariantInit(&cell1);
  cell1.vt = VT_BSTR;
  cell1.bstrVal = address.Get();
  const Ref<IDispatch> range =
      InvokeForObject(s, worksheet, s.range, DISPATCH_PROPERTYGET, &cell1, 1);
  if (s.value == DISPID_UNKNOWN) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Value")};
    const HRESULT hr =
        Retrying(s, [&] { return range->GetIDsOfNames(IID_NULL, names, 1, kLocale, &s.value); });
    if (FAILED(hr)) {
      s.value = DISPID_UNKNOWN;
      failure = FailureText(hr);
      return hr;
    }
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_ARRAY | VT_VARIANT;
  value.parray = array.p;
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &put_id, 1, 1};
  ExceptionInfo error;
  HRESULT hr = Retrying(s, [&] {
    UINT bad_argument = 0;
    return range->Invoke(s.value, IID_NULL, kLocale, DISPATCH_PROPERTYPUT, &params, nullptr,
                         &error.info, &bad_argument);
  });
  if (FAILED(hr)) {
    if (hr == RPC_E_CALL_CANCELED || s.abandoned) throw AutomationError(kNotAnswering);
    failure = FailureText(hr, &error.info);
    if (hr == DISP_E_EXCEPTION && error.info.scode != 0) hr = error.info.scode;
  }
  return hr;
}

// Writes a block: its full rows as one array, a last row cut short (an export that failed
// within a row) as another, then the cells too long for an array one at a time. When the
// export's first array is refused as unsupported, the block and everything after it goes cell
// by cell.
void WriteBlock(Session& s, Block& block) {
  const std::int32_t full_rows = block.InLastRow() == block.width ? block.rows : block.rows - 1;
  const auto one_by_one = [&](std::size_t from) {
    for (std::size_t i = from; i < block.values.size(); ++i) {
      const auto r = static_cast<std::int32_t>(i / static_cast<std::size_t>(block.width));
      const auto c = static_cast<std::int32_t>(i % static_cast<std::size_t>(block.width));
      PutOne(s, block.top + r, block.left + c, block.values[i].Get());
    }
  };
  if (s.cell_by_cell) return one_by_one(0);
  std::vector<std::size_t> long_cells;
  struct Part {
    std::int32_t row, rows, columns;
    std::size_t first;
  };
  std::vector<Part> parts;
  if (full_rows > 0) parts.push_back({block.top, full_rows, block.width, 0});
  if (full_rows < block.rows) {
    const std::size_t first = static_cast<std::size_t>(full_rows) * block.width;
    parts.push_back({block.top + full_rows, 1, block.InLastRow(), first});
  }
  for (const Part& part : parts) {
    std::string failure;
    const HRESULT hr = PutArray(s, part.row, block.left, part.rows, part.columns, block.values,
                                part.first, long_cells, failure);
    if (SUCCEEDED(hr)) {
      s.array_taken = true;
      continue;
    }
    if (!s.array_taken && RefusesArrays(hr)) {
      // The export's first array, refused as unsupported: nothing of it is in the sheet.
      s.cell_by_cell = true;
      return one_by_one(0);
    }
    throw AutomationError(failure);
  }
  for (const std::size_t i : long_cells) {
    const auto r = static_cast<std::int32_t>(i / static_cast<std::size_t>(block.width));
    const auto c = static_cast<std::int32_t>(i % static_cast<std::size_t>(block.width));
    PutOne(s, block.top + r, block.left + c, block.values[i].Get());
  }
}

class ExcelComApplication final : public SpreadsheetApplication {
 public:
  explicit ExcelComApplication(const ExcelComOptions& options) : options_(options) {}
  ~ExcelComApplication() override {
    DisconnectWorksheet();
    DisconnectWorkbook();
    DisconnectApplication();
  }

  void ConnectApplication() override {
    if (session_) {
      if (session_->abandoned) throw AutomationError(kNotAnswering);
      return;
    }
    auto session = std::make_shared<Session>(options_);
    auto* handed = new std::shared_ptr<Session>(session);
    session->thread = CreateThread(nullptr, 0, RunSession, handed, 0, &session->thread_id);
    if (!session->thread) {
      delete handed;
      throw ConnectError(
          texts::ExportThreadFailed(FailureText(HRESULT_FROM_WIN32(GetLastError()))));
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      session_ = std::move(session);
    }
    cells_cut_ = 0;
    block_ = std::make_shared<Block>();
    session_->cell_by_cell = options_.cell_by_cell;
    try {
      Run([](Session& s) { Connect(s); });
    } catch (...) {
      DisconnectApplication();
      throw;
    }
  }

  void AddWorkbook() override {
    Run([](Session& s) {
      IDispatch* application = Connected(s.application);
      const Ref<IDispatch> workbooks = GetObjectProperty(s, application, L"Workbooks");
      const DISPID add = MemberId(s, workbooks.Get(), L"Add");
      // The template is passed as null, not left out.
      VARIANT no_template;
      VariantInit(&no_template);
      no_template.vt = VT_NULL;
      Ref<IDispatch> workbook =
          InvokeForObject(s, workbooks.Get(), add, DISPATCH_METHOD, &no_template, 1);
      s.workbook = std::move(workbook);
    });
  }

  void AttachFirstWorksheet() override {
    Run([](Session& s) {
      IDispatch* workbook = Connected(s.workbook);
      const Ref<IDispatch> sheets = GetObjectProperty(s, workbook, L"Worksheets");
      VARIANT index = Int32(1);
      const Ref<IDispatch> first = InvokeForObject(
          s, sheets.Get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &index, 1);
      s.worksheet = Worksheet(s, first.Get());
      s.cells = s.range = s.value = DISPID_UNKNOWN;
    });
  }

  // Worksheet.Rows.Count.
  std::int64_t SheetRows() override {
    std::int64_t rows = 0;
    Run([&rows](Session& s) {
      const Ref<IDispatch> all = GetObjectProperty(s, Connected(s.worksheet), L"Rows");
      rows = GetNumber(s, all.Get(), L"Count");
      s.element_limit = rows <= 65536 ? kArrayElementLimitOld : kArrayElementLimit;
    });
    return rows;
  }

  // Worksheets.Add(After:=Worksheets(Worksheets.Count)); without After, Excel would put the new
  // sheet before the active one.
  void AddWorksheet() override {
    Flush();
    Run([](Session& s) {
      const Ref<IDispatch> sheets = GetObjectProperty(s, Connected(s.workbook), L"Worksheets");
      VARIANT count = Int32(static_cast<std::int32_t>(GetNumber(s, sheets.Get(), L"Count")));
      const Ref<IDispatch> last = InvokeForObject(
          s, sheets.Get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &count, 1);
      const DISPID add = MemberId(s, sheets.Get(), L"Add");
      VARIANT args[2];  // Add(Before, After), last argument first
      VariantInit(&args[0]);
      args[0].vt = VT_DISPATCH;
      args[0].pdispVal = last.Get();
      VariantInit(&args[1]);
      args[1].vt = VT_ERROR;
      args[1].scode = DISP_E_PARAMNOTFOUND;
      const Ref<IDispatch> added = InvokeForObject(s, sheets.Get(), add, DISPATCH_METHOD, args, 2);
      s.worksheet = Worksheet(s, added.Get());
      s.cells = s.range = s.value = DISPID_UNKNOWN;
    });
  }

  void SetVisible() override {
    Run([](Session& s) {
      IDispatch* application = Connected(s.application);
      const DISPID id = MemberId(s, application, L"Visible");
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_BOOL;
      value.boolVal = VARIANT_TRUE;
      Invoke(s, application, id, DISPATCH_PROPERTYPUT, &value, 1, nullptr);
    });
  }

  // Gathers the cell into the block; a cell that does not continue it (the next cell of its
  // last row, or the first of the next row under a full one), or a new row once the block is
  // full, writes the block first. Once the application refused arrays, every cell goes alone.
  void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) override {
    Session* s = session_.get();
    if (!s) throw AutomationError(kNotConnected);
    if (s->abandoned) throw AutomationError(kNotAnswering);
    bool cut = false;
    Bstr value = CellValue(utf8, cut);
    if (cut) ++cells_cut_;
    if (s->cell_by_cell) {
      Flush();
      Run([row, column, value = std::make_shared<Bstr>(std::move(value))](Session& s) {
        PutOne(s, row, column, value->Get());
      });
      return;
    }
    Block& b = *block_;
    const std::int32_t last_row = b.top + b.rows - 1;
    const bool same_row = !b.Empty() && row == last_row && column == b.left + b.InLastRow() &&
                          (b.rows == 1 || b.InLastRow() < b.width);
    const bool next_row =
        !b.Empty() && row == last_row + 1 && column == b.left && b.InLastRow() == b.width;
    // The export's first block is its first row alone: whether the application takes arrays
    // at all is learnt from a few cells, so that one which refuses them (and gets the block
    // cell by cell) is never left writing a whole block in one silent call.
    const bool full = b.rows >= options_.block_rows || b.bytes >= options_.block_bytes ||
                      !(s->array_taken || s->cell_by_cell);
    if (!same_row && !(next_row && !full)) Flush();
    if (block_->Empty()) {
      block_->Start(row, column);
    } else if (next_row) {
      ++block_->rows;
    }
    block_->Add(std::move(value));
  }

  // Writes the block gathered so far, which is the caller's no longer once handed over: a
  // block that failed is not written again.
  void Flush() override {
    if (block_->Empty()) return;
    std::shared_ptr<Block> block = std::exchange(block_, std::make_shared<Block>());
    Run([block](Session& s) { WriteBlock(s, *block); });
  }

  void Abandon() noexcept override {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!session_) return;
    session_->abandoned = true;
    SetEvent(session_->abandon_event);
    // Wakes the thread's wait inside COM, where the message filter then cancels the call.
    PostThreadMessageW(session_->thread_id, WM_NULL, 0, 0);
  }

  std::int64_t CellsCut() const override { return cells_cut_; }

  // Writes what was gathered first: the cells of an export that stopped halfway (a row the list
  // could not give whole, a cancel) stay in the sheet.
  void DisconnectWorksheet() noexcept override {
    try {
      if (session_ && !session_->abandoned) Flush();
    } catch (...) {
    }
    block_ = std::make_shared<Block>();
    RunQuietly([](Session& s) {
      s.worksheet.Reset();
      s.cells = s.range = s.value = DISPID_UNKNOWN;
    });
  }
  void DisconnectWorkbook() noexcept override {
    RunQuietly([](Session& s) { s.workbook.Reset(); });
  }
  // Only releases: Excel stays running with whatever it shows. After the user gave up, nothing
  // is waited for: the thread lets go of what it holds once the call it is stuck in returns.
  void DisconnectApplication() noexcept override {
    if (!session_) return;
    RunQuietly([](Session& s) { s.application.Reset(); });
    std::shared_ptr<Session> session;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      session = std::move(session_);
    }
    session->quit = true;
    SetEvent(session->job_ready);
    if (!session->abandoned) {
      const HANDLE handles[] = {session->thread, session->abandon_event};
      WaitFor(handles, 2);
    }
  }

 private:
  // Hands a job to the session's thread and waits for it, or for the user to give up.
  void Run(std::function<void(Session&)> job) {
    Session* s = session_.get();
    if (!s) throw AutomationError(kNotConnected);
    if (s->abandoned) throw AutomationError(kNotAnswering);
    s->job = [s, job = std::move(job)] { job(*s); };
    SetEvent(s->job_ready);
    const HANDLE handles[] = {s->job_done, s->abandon_event};
    const DWORD which = WaitFor(handles, 2);
    if (which != 0) throw AutomationError(kNotAnswering);
    if (s->error) std::rethrow_exception(std::exchange(s->error, nullptr));
  }
  void RunQuietly(std::function<void(Session&)> job) noexcept {
    if (!session_ || session_->abandoned) return;
    try {
      Run(std::move(job));
    } catch (...) {
      // Releasing reports nothing: the export has already ended one way or the other.
    }
  }

  const ExcelComOptions options_;
  // Guards session_ against Abandon from another thread; only this object's user changes it.
  std::mutex mutex_;
  std::shared_ptr<Session> session_;
  std::atomic<std::int64_t> cells_cut_{0};
  // The cells gathered for the next write; handed to the session's thread whole.
  std::shared_ptr<Block> block_ = std::make_shared<Block>();
};

}  // namespace

std::unique_ptr<SpreadsheetApplication> MakeExcelComApplication(const ExcelComOptions& options) {
  return std::make_unique<ExcelComApplication>(options);
}

}  // namespace tessaly
