#include "fake_excel.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fake_excel {

const CLSID kExcelApplicationClass = {
    0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kApplicationInterface = {
    0x000208D5, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kWorkbookInterface = {
    0x000208DA, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kWorksheetInterface = {
    0x000208D8, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Workbooks, Sheets and Range of Excel's type library.
const IID kWorkbooksInterface = {
    0x000208DB, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kSheetsInterface = {
    0x000208D7, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kRangeInterface = {
    0x00020846, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// Asked of an object of the fake for itself: how a sheet passed back as an argument is known.
// {6F1D6C55-3A3B-4E0B-9F55-7A4C2E1B8D03}
const IID kFakeObject = {
    0x6F1D6C55, 0x3A3B, 0x4E0B, {0x9F, 0x55, 0x7A, 0x4C, 0x2E, 0x1B, 0x8D, 0x03}};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Factory:
      return "factory";
    case Kind::Application:
      return "application";
    case Kind::Workbooks:
      return "workbooks";
    case Kind::Workbook:
      return "workbook";
    case Kind::Worksheets:
      return "worksheets";
    case Kind::Worksheet:
      return "worksheet";
    case Kind::Range:
      return "range";
  }
  return "?";
}

const IID& KindInterface(Kind kind) {
  switch (kind) {
    case Kind::Application:
      return kApplicationInterface;
    case Kind::Workbooks:
      return kWorkbooksInterface;
    case Kind::Workbook:
      return kWorkbookInterface;
    case Kind::Worksheets:
      return kSheetsInterface;
    case Kind::Worksheet:
      return kWorksheetInterface;
    case Kind::Range:
      return kRangeInterface;
    case Kind::Factory:
      break;
  }
  return IID_IClassFactory;
}

struct Member {
  const wchar_t* name;
  DISPID id;
};

std::vector<Member> Members(Kind kind) {
  switch (kind) {
    case Kind::Application:
      return {{L"Workbooks", kWorkbooks}, {L"Visible", kVisible}, {L"Quit", kQuit}};
    case Kind::Workbooks:
      return {{L"Add", kAdd}, {L"Item", kItem}, {L"Count", kCount}};
    case Kind::Workbook:
      return {{L"Worksheets", kWorksheets}};
    case Kind::Worksheets:
      return {{L"Item", kItem}, {L"Count", kCount}, {L"Add", kAdd}};
    case Kind::Worksheet:
      return {{L"Cells", kCells}, {L"Rows", kRows}, {L"Range", kRange}};
    case Kind::Range:
      return {{L"Item", kItem}, {L"Count", kCount}, {L"Value", kValue}};
    case Kind::Factory:
      break;
  }
  return {};
}

std::wstring MemberName(Kind kind, DISPID id) {
  if (id == DISPID_VALUE) return L"DISPID_VALUE";
  for (const Member& m : Members(kind)) {
    if (m.id == id) return m.name;
  }
  return L"#" + std::to_wstring(id);
}

std::string IidName(const IID& iid) {
  struct Named {
    const IID* iid;
    const char* name;
  };
  static const Named kNames[] = {
      {&IID_NULL, "null"},
      {&IID_IUnknown, "IUnknown"},
      {&IID_IDispatch, "IDispatch"},
      {&kApplicationInterface, "_Application"},
      {&kWorkbookInterface, "_Workbook"},
      {&kWorksheetInterface, "_Worksheet"},
      {&kWorkbooksInterface, "Workbooks"},
      {&kSheetsInterface, "Sheets"},
      {&kRangeInterface, "Range"},
  };
  for (const Named& n : kNames) {
    if (IsEqualIID(iid, *n.iid)) return n.name;
  }
  wchar_t text[40];
  StringFromGUID2(iid, text, 40);
  return Utf8(text);
}

bool IsExcelInterface(const IID& iid) {
  for (const IID* known : {&kApplicationInterface, &kWorkbookInterface, &kWorksheetInterface,
                           &kWorkbooksInterface, &kSheetsInterface, &kRangeInterface}) {
    if (IsEqualIID(iid, *known)) return true;
  }
  return false;
}

const char* TypeName(VARTYPE vt) {
  switch (vt) {
    case VT_ARRAY | VT_VARIANT:
      return "VT_ARRAY|VT_VARIANT";
    case VT_ARRAY | VT_BSTR:
      return "VT_ARRAY|VT_BSTR";
    case VT_EMPTY:
      return "VT_EMPTY";
    case VT_NULL:
      return "VT_NULL";
    case VT_I2:
      return "VT_I2";
    case VT_I4:
      return "VT_I4";
    case VT_BSTR:
      return "VT_BSTR";
    case VT_BOOL:
      return "VT_BOOL";
    case VT_ERROR:
      return "VT_ERROR";
    case VT_DISPATCH:
      return "VT_DISPATCH";
    case VT_UNKNOWN:
      return "VT_UNKNOWN";
  }
  return "VT_other";
}

// A 2-D array of VARIANTs as the log shows it: its bounds, then its elements row by row,
// "2x2 \"'a\" \"'b\" / \"'c\" empty".
std::wstring ArrayText(SAFEARRAY* array) {
  if (!array) return L"null";
  const UINT dims = SafeArrayGetDim(array);
  LONG lower[2] = {}, upper[2] = {};
  for (UINT d = 0; d < dims && d < 2; ++d) {
    SafeArrayGetLBound(array, d + 1, &lower[d]);
    SafeArrayGetUBound(array, d + 1, &upper[d]);
  }
  if (dims != 2) return std::to_wstring(dims) + L"-d";
  std::wstring text =
      std::to_wstring(upper[0] - lower[0] + 1) + L"x" + std::to_wstring(upper[1] - lower[1] + 1);
  for (LONG r = lower[0]; r <= upper[0]; ++r) {
    if (r > lower[0]) text += L" /";
    for (LONG c = lower[1]; c <= upper[1]; ++c) {
      LONG at[2] = {r, c};
      VARIANT* e = nullptr;
      if (FAILED(SafeArrayPtrOfIndex(array, at, reinterpret_cast<void**>(&e)))) continue;
      if (e->vt == VT_BSTR) {
        text += L" \"" + std::wstring(e->bstrVal, SysStringLen(e->bstrVal)) + L"\"";
      } else {
        text += e->vt == VT_EMPTY ? L" empty" : L" other";
      }
    }
  }
  return text;
}

Argument Record(const VARIANT& v) {
  Argument a;
  a.vt = v.vt;
  switch (v.vt) {
    case VT_BSTR:
      if (v.bstrVal) a.value.assign(v.bstrVal, SysStringLen(v.bstrVal));
      break;
    case VT_I4:
      a.value = std::to_wstring(v.lVal);
      break;
    case VT_I2:
      a.value = std::to_wstring(v.iVal);
      break;
    case VT_BOOL:
      a.value = std::to_wstring(v.boolVal);
      break;
    case VT_ERROR:
      a.value = std::to_wstring(v.scode);
      break;
    case VT_ARRAY | VT_VARIANT:
      a.value = ArrayText(v.parray);
      break;
    default:
      break;
  }
  return a;
}

std::string FlagsText(WORD flags) {
  std::string text;
  auto add = [&](WORD bit, const char* name) {
    if (!(flags & bit)) return;
    if (!text.empty()) text += '|';
    text += name;
  };
  add(DISPATCH_METHOD, "method");
  add(DISPATCH_PROPERTYGET, "get");
  add(DISPATCH_PROPERTYPUT, "put");
  add(DISPATCH_PROPERTYPUTREF, "putref");
  return text;
}

// Records the call and answers whether it is the one to fail; fills the exception information
// when the failure reports one.
HRESULT Enter(State& state, Call call, EXCEPINFO* info) {
  const Failure* f = state.failure ? &*state.failure : nullptr;
  const bool invoke = call.method == "Invoke";
  bool fail = false;
  if (f && f->object == call.object && f->method == call.method) {
    std::wstring member = call.name;
    if (invoke) member = MemberName(call.object, call.dispid);
    if (f->member.empty() || f->member == member) fail = ++state.failure_matches == f->occurrence;
  }
  if (!state.quiet) state.calls.push_back(std::move(call));
  if (!fail) return S_OK;
  if (f->report == Failure::Report::Code || !invoke) return f->code;
  if (!info) return f->code;
  switch (f->report) {
    case Failure::Report::Description:
      info->bstrSource = SysAllocString(L"Microsoft Excel");
      info->bstrDescription =
          SysAllocStringLen(f->description.data(), static_cast<UINT>(f->description.size()));
      info->scode = f->code;
      break;
    case Failure::Report::NoDescription:
      info->scode = f->code;
      break;
    case Failure::Report::Code:
      break;
  }
  return DISP_E_EXCEPTION;
}

// A rectangle of a sheet, 1-based and inclusive.
struct Area {
  int top = 0, left = 0, bottom = 0, right = 0;
};

// An A1 address ("B2", "A2:M1001", either corner first) on a sheet of `rows` rows.
std::optional<Area> ParseAddress(const std::wstring& address, int rows) {
  std::wsmatch m;
  if (!std::regex_match(
          address, m, std::wregex(LR"(([A-Za-z]{1,3})(\d{1,7})(?::([A-Za-z]{1,3})(\d{1,7}))?)"))) {
    return std::nullopt;
  }
  const auto column = [](const std::wstring& letters) {
    int n = 0;
    for (wchar_t c : letters) n = n * 26 + (std::towupper(c) - L'A' + 1);
    return n;
  };
  Area a{std::stoi(m[2].str()), column(m[1].str()), 0, 0};
  a.bottom = m[3].matched ? std::stoi(m[4].str()) : a.top;
  a.right = m[3].matched ? column(m[3].str()) : a.left;
  if (a.top > a.bottom) std::swap(a.top, a.bottom);
  if (a.left > a.right) std::swap(a.left, a.right);
  if (a.top < 1 || a.bottom > rows || a.left < 1 || a.right > 16384) return std::nullopt;
  return a;
}

constexpr HRESULT kError1004 = static_cast<HRESULT>(0x800A03EC);  // Excel's error 1004

// One object of Excel's object model.
class Object final : public IDispatch {
 public:
  // sheet: the id of the sheet; rows: a range of whole rows (Rows), not of cells (Cells).
  Object(std::shared_ptr<State> state, Kind kind, int book = -1, int sheet = -1, bool rows = false)
      : state_(std::move(state)), kind_(kind), book_(book), sheet_(sheet), rows_(rows) {
    ++state_->live[static_cast<int>(kind_)];
  }
  ~Object() {
    --state_->live[static_cast<int>(kind_)];
    state_->Changed();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Call call;
    call.object = kind_;
    call.method = "QueryInterface";
    call.iid = iid;
    const HRESULT entered = Enter(*state_, std::move(call), nullptr);
    state_->Changed();
    if (FAILED(entered)) return entered;
    if (IsEqualIID(iid, kFakeObject)) {
      AddRef();
      *out = this;
      return S_OK;
    }
    bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                 IsEqualIID(iid, KindInterface(kind_));
    if (kind_ == Kind::Application && IsEqualIID(iid, kApplicationInterface)) {
      known = state_->application_has_interface;
    }
    if (kind_ == Kind::Worksheet && IsEqualIID(iid, kWorksheetInterface)) {
      known = state_->first_sheet_is_worksheet;
    }
    if (!known) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IDispatch*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    Call call;
    call.object = kind_;
    call.method = "GetIDsOfNames";
    call.name = names[0];
    call.lcid = lcid;
    call.iid = iid;
    if (const HRESULT hr = Enter(*state_, std::move(call), nullptr); FAILED(hr)) return hr;
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const Member& m : Members(kind_)) {
      if (_wcsicmp(m.name, names[0]) == 0) {
        ids[0] = m.id;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* bad_argument) override {
    Call call;
    call.object = kind_;
    call.method = "Invoke";
    call.dispid = id;
    call.flags = flags;
    call.lcid = lcid;
    call.iid = iid;
    call.result_requested = result != nullptr;
    call.excepinfo_given = info != nullptr;
    if (params && !state_->quiet) {
      for (UINT i = 0; i < params->cArgs; ++i) call.args.push_back(Record(params->rgvarg[i]));
      for (UINT i = 0; i < params->cNamedArgs; ++i) {
        call.named.push_back(params->rgdispidNamedArgs[i]);
      }
    }
    const HRESULT entered = Enter(*state_, std::move(call), info);
    if (++state_->invokes == state_->hang_invoke) Hang();
    HRESULT hr = entered;
    if (SUCCEEDED(hr)) {
      if (!IsEqualIID(iid, IID_NULL)) {
        hr = DISP_E_UNKNOWNINTERFACE;
      } else if (!params) {
        hr = E_INVALIDARG;
      } else {
        if (result) VariantInit(result);
        hr = Dispatch(id, flags, *params, result, bad_argument);
      }
    }
    state_->Changed();
    return hr;
  }

 private:
  // Excel stuck in a dialog: the call never returns (until the test ends the process).
  void Hang() {
    state_->Changed();
    if (HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, state_->hung_event.c_str())) {
      SetEvent(e);
      CloseHandle(e);
    }
    Sleep(120000);
  }

  // What Excel does, for the members the export uses; strict about argument shapes so that a
  // wrong call fails here as it might in Excel.
  HRESULT Dispatch(DISPID id, WORD flags, const DISPPARAMS& p, VARIANT* result,
                   UINT* bad_argument) {
    const bool get = (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0;
    const bool put = flags == DISPATCH_PROPERTYPUT;
    const bool put_shape = put && p.cNamedArgs == 1 && p.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    State& s = *state_;
    switch (kind_) {
      case Kind::Application:
        if (id == kWorkbooks && get && p.cArgs == 0) return Give(Kind::Workbooks, -1, -1, result);
        if (id == kVisible && put) {
          if (!put_shape || p.cArgs != 1) return DISP_E_PARAMNOTOPTIONAL;
          if (p.rgvarg[0].vt != VT_BOOL) return Mismatch(0, bad_argument);
          s.visible = p.rgvarg[0].boolVal != VARIANT_FALSE;
          return S_OK;
        }
        if (id == kQuit && (flags & DISPATCH_METHOD)) {
          s.quit = true;
          return S_OK;
        }
        break;
      case Kind::Workbooks:
        if (id == kAdd && (flags & DISPATCH_METHOD)) {
          if (p.cArgs > 1 || p.cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
          if (p.cArgs == 1 && p.rgvarg[0].vt != VT_NULL && p.rgvarg[0].vt != VT_ERROR) {
            return Mismatch(0, bad_argument);
          }
          Workbook book{std::vector<Sheet>(s.sheets_in_new_workbook)};
          for (Sheet& sheet : book.sheets) sheet.id = ++s.sheets_made;
          s.workbooks.push_back(std::move(book));
          return Give(Kind::Workbook, static_cast<int>(s.workbooks.size()) - 1, -1, result);
        }
        break;
      case Kind::Workbook:
        if (id == kWorksheets && get && p.cArgs == 0)
          return Give(Kind::Worksheets, book_, -1, result);
        break;
      case Kind::Worksheets:
        if ((id == DISPID_VALUE || id == kItem) && get) {
          if (p.cArgs != 1 || p.cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
          if (p.rgvarg[0].vt != VT_I4) return Mismatch(0, bad_argument);
          const int index = p.rgvarg[0].lVal;
          const auto& sheets = s.workbooks.at(book_).sheets;
          if (index < 1 || index > static_cast<int>(sheets.size())) return DISP_E_BADINDEX;
          return Give(Kind::Worksheet, book_, sheets[index - 1].id, result);
        }
        if (id == kCount && get && p.cArgs == 0) {
          return Number(static_cast<int>(s.workbooks.at(book_).sheets.size()), result);
        }
        if (id == kAdd && (flags & DISPATCH_METHOD)) return AddSheet(p, result, bad_argument);
        break;
      case Kind::Worksheet:
        if (id == kCells && get && p.cArgs == 0) return Give(Kind::Range, book_, sheet_, result);
        if (id == kRows && get && p.cArgs == 0) {
          return Give(Kind::Range, book_, sheet_, result, /*rows=*/true);
        }
        // Range(Cell1): one A1 address; Range(Cell1, Cell2) is not modelled.
        if (id == kRange && get) {
          if (p.cArgs != 1 || p.cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
          if (p.rgvarg[0].vt != VT_BSTR) return Mismatch(0, bad_argument);
          const BSTR text = p.rgvarg[0].bstrVal;
          const auto area = ParseAddress(
              text ? std::wstring(text, SysStringLen(text)) : std::wstring(), s.sheet_rows);
          if (!area) return kError1004;
          const HRESULT hr = Give(Kind::Range, book_, sheet_, result);
          if (result) static_cast<Object*>(result->pdispVal)->area_ = area;
          return hr;
        }
        break;
      case Kind::Range:
        // Cells.Count overflows a Long in Excel since 2007; only Rows.Count is of use.
        if (id == kCount && get && p.cArgs == 0) {
          return rows_ ? Number(s.sheet_rows, result) : DISP_E_OVERFLOW;
        }
        if (id == kValue && put) {
          if (!put_shape || p.cArgs != 1) return DISP_E_BADPARAMCOUNT;
          if (!area_) return kError1004;  // Cells.Value (the whole sheet): not modelled
          return PutValue(p.rgvarg[0], bad_argument);
        }
        if (id == kItem && put) {
          if (!put_shape || p.cArgs != 3) return DISP_E_BADPARAMCOUNT;
          // rgvarg holds value, column, row: IDispatch passes the last argument first.
          for (UINT i : {1u, 2u}) {
            if (p.rgvarg[i].vt != VT_I4) return Mismatch(i, bad_argument);
          }
          if (p.rgvarg[0].vt != VT_BSTR) return Mismatch(0, bad_argument);
          const int row = p.rgvarg[2].lVal, column = p.rgvarg[1].lVal;
          if (rows_ || row < 1 || row > s.sheet_rows || column < 1 || column > 16384) {
            return kError1004;
          }
          const BSTR text = p.rgvarg[0].bstrVal;
          SheetOf(book_, sheet_)->cells[{row, column}] =
              GeneralCell(text ? std::wstring(text, SysStringLen(text)) : std::wstring(), s.wps);
          return S_OK;
        }
        break;
      case Kind::Factory:
        break;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  HRESULT Give(Kind kind, int book, int sheet, VARIANT* result, bool rows = false) {
    if (!result) return S_OK;
    result->vt = VT_DISPATCH;
    result->pdispVal = new Object(state_, kind, book, sheet, rows);
    return S_OK;
  }
  static HRESULT Number(int n, VARIANT* result) {
    if (!result) return S_OK;
    result->vt = VT_I4;
    result->lVal = n;
    return S_OK;
  }
  Sheet* SheetOf(int book, int id) {
    for (Sheet& sheet : state_->workbooks.at(book).sheets) {
      if (sheet.id == id) return &sheet;
    }
    return nullptr;
  }
  // The index in its workbook of a sheet passed as an argument; -1 when it is missing, -2 when
  // it is no sheet of this workbook.
  int SheetArgument(const VARIANT& v) {
    if (v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND)) return -1;
    if (v.vt != VT_DISPATCH || !v.pdispVal) return -2;
    Object* sheet = nullptr;
    if (FAILED(v.pdispVal->QueryInterface(kFakeObject, reinterpret_cast<void**>(&sheet)))) {
      return -2;
    }
    const bool ours = sheet->kind_ == Kind::Worksheet && sheet->book_ == book_;
    const int id = sheet->sheet_;
    sheet->Release();
    const auto& sheets = state_->workbooks.at(book_).sheets;
    for (std::size_t i = 0; ours && i < sheets.size(); ++i) {
      if (sheets[i].id == id) return static_cast<int>(i);
    }
    return -2;
  }
  // Worksheets.Add(Before, After, Count, Type): a new sheet before or after the one given, and
  // where neither is, before the active sheet (here the first).
  HRESULT AddSheet(const DISPPARAMS& p, VARIANT* result, UINT* bad_argument) {
    if (p.cArgs > 4 || p.cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
    // rgvarg holds the arguments last first.
    const int before = p.cArgs >= 1 ? SheetArgument(p.rgvarg[p.cArgs - 1]) : -1;
    const int after = p.cArgs >= 2 ? SheetArgument(p.rgvarg[p.cArgs - 2]) : -1;
    if (before == -2) return Mismatch(p.cArgs - 1, bad_argument);
    if (after == -2) return Mismatch(p.cArgs - 2, bad_argument);
    if (p.cArgs > 2) return DISP_E_PARAMNOTOPTIONAL;  // Count and Type: not modelled
    auto& sheets = state_->workbooks.at(book_).sheets;
    const int at = after >= 0 ? after + 1 : before >= 0 ? before : 0;
    Sheet added;
    added.id = ++state_->sheets_made;
    sheets.insert(sheets.begin() + at, added);
    return Give(Kind::Worksheet, book_, added.id, result);
  }
  // Range.Value = v, as Excel takes it: a text fills every cell of the range; an array lands by
  // its bounds, the cells of the range past it getting "#N/A", elements past the range dropped;
  // a one-dimensional array is one row, repeated on every row of the range. Elements are taken
  // as typed input, like single puts; an empty element empties its cell. An array typed VT_BSTR
  // is refused here (Excel stores such elements as raw text, formulas unparsed).
  HRESULT PutValue(const VARIANT& v, UINT* bad_argument) {
    State& s = *state_;
    const Area a = *area_;
    std::vector<std::pair<std::pair<int, int>, std::optional<std::wstring>>> cells;
    const auto text = [&](const VARIANT& e) -> std::optional<std::wstring> {
      if (e.vt == VT_EMPTY || s.quiet) return std::nullopt;
      const std::wstring t = e.bstrVal ? std::wstring(e.bstrVal, SysStringLen(e.bstrVal)) : L"";
      return GeneralCell(t, s.wps);
    };
    if (v.vt == VT_BSTR || v.vt == VT_EMPTY) {
      for (int r = a.top; r <= a.bottom; ++r) {
        for (int c = a.left; c <= a.right; ++c) cells.push_back({{r, c}, text(v)});
      }
    } else if (v.vt & VT_ARRAY) {
      if (s.refuse_arrays != S_OK) return s.refuse_arrays;
      if (v.vt != (VT_ARRAY | VT_VARIANT) || !v.parray) return Mismatch(0, bad_argument);
      const UINT dims = SafeArrayGetDim(v.parray);
      if (dims != 1 && dims != 2) return Mismatch(0, bad_argument);
      LONG lower[2] = {}, upper[2] = {};
      for (UINT d = 0; d < dims; ++d) {
        SafeArrayGetLBound(v.parray, d + 1, &lower[d]);
        SafeArrayGetUBound(v.parray, d + 1, &upper[d]);
      }
      for (int r = a.top; r <= a.bottom; ++r) {
        for (int c = a.left; c <= a.right; ++c) {
          LONG at[2] = {lower[0] + (r - a.top), lower[1] + (c - a.left)};
          if (dims == 1) at[0] = lower[0] + (c - a.left);
          const bool inside =
              dims == 1 ? at[0] <= upper[0] : at[0] <= upper[0] && at[1] <= upper[1];
          if (!inside) {
            cells.push_back({{r, c}, L"#N/A"});
            continue;
          }
          VARIANT* e = nullptr;
          if (FAILED(SafeArrayPtrOfIndex(v.parray, at, reinterpret_cast<void**>(&e)))) {
            return DISP_E_BADINDEX;
          }
          if (e->vt != VT_BSTR && e->vt != VT_EMPTY) return Mismatch(0, bad_argument);
          if (e->vt == VT_BSTR && s.element_limit > 0 &&
              SysStringLen(e->bstrVal) > static_cast<UINT>(s.element_limit)) {
            return kError1004;
          }
          cells.push_back({{r, c}, text(*e)});
        }
      }
    } else {
      return Mismatch(0, bad_argument);
    }
    if (s.quiet) return S_OK;  // timing only: nothing kept
    CellMap& sheet = SheetOf(book_, sheet_)->cells;
    for (auto& [at, value] : cells) {
      if (value) {
        sheet[at] = std::move(*value);
      } else {
        sheet.erase(at);
      }
    }
    return S_OK;
  }

  static HRESULT Mismatch(UINT index, UINT* bad_argument) {
    if (bad_argument) *bad_argument = index;
    return DISP_E_TYPEMISMATCH;
  }

  std::shared_ptr<State> state_;
  Kind kind_;
  int book_;
  int sheet_;
  bool rows_;
  std::optional<Area> area_;  // a range from an address (Range), not Cells or Rows
  std::atomic<ULONG> refs_{1};
};

// Starts "Excel": a new application object for every CreateInstance.
class Factory final : public IClassFactory {
 public:
  explicit Factory(std::shared_ptr<State> state) : state_(std::move(state)) {
    ++state_->live[static_cast<int>(Kind::Factory)];
  }
  ~Factory() { --state_->live[static_cast<int>(Kind::Factory)]; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Call call;
    call.object = Kind::Factory;
    call.method = "CreateInstance";
    call.iid = iid;
    if (const HRESULT hr = Enter(*state_, std::move(call), nullptr); FAILED(hr)) return hr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* application = new Object(state_, Kind::Application);
    const HRESULT hr = application->QueryInterface(iid, out);
    application->Release();
    state_->Changed();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  std::shared_ptr<State> state_;
  std::atomic<ULONG> refs_{1};
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed: %.8lx", what, static_cast<unsigned long>(hr));
    throw std::runtime_error(text);
  }
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

namespace {

bool Matches(const std::wstring& text, const wchar_t* pattern) {
  return std::regex_match(text, std::wregex(pattern));
}

// Whether the numbers, day first or month first or year first, make a date.
bool IsDate(const std::vector<int>& n) {
  const auto month = [](int m) { return m >= 1 && m <= 12; };
  const auto day = [](int d) { return d >= 1 && d <= 31; };
  const auto year = [](int y) { return y >= 1000 && y <= 9999; };
  if (n.size() == 2) {
    return (month(n[0]) && day(n[1])) || (day(n[0]) && month(n[1])) ||
           (year(n[0]) && month(n[1])) || (month(n[0]) && year(n[1]));
  }
  return n.size() == 3 && ((year(n[0]) && month(n[1]) && day(n[2])) ||
                           ((month(n[0]) && day(n[1])) || (day(n[0]) && month(n[1]))));
}

}  // namespace

std::wstring GeneralCell(const std::wstring& text, bool wps) {
  if (text.empty()) return text;
  if (text[0] == L'\'') return text.substr(1);
  if (text[0] == L'=' && text.size() > 1) return L"formula " + text;
  const std::wstring trimmed = std::regex_replace(text, std::wregex(LR"(^\s+|\s+$)"), L"");
  if (Matches(trimmed, LR"((?:[Tt][Rr][Uu][Ee]|[Ff][Aa][Ll][Ss][Ee]))")) {
    return L"boolean " + trimmed;
  }
  // Signs, currency, thousands separators, a decimal point, an exponent, a percent sign.
  if (Matches(trimmed, LR"([+-]?[$¥]?(?:\d{1,3}(?:,\d{3})+|\d*)(?:\.\d*)?(?:[eE][+-]?\d+)?%?)") &&
      Matches(trimmed, LR"([^eE]*\d.*)")) {
    if (wps && Matches(trimmed, LR"(\d{12,})")) return text;
    std::wstring digits;
    for (wchar_t c : trimmed) {
      if (c != L',' && c != L'$' && c != L'¥' && c != L'%') digits += c;
    }
    double value = std::wcstod(digits.c_str(), nullptr);
    if (trimmed.back() == L'%') value /= 100;
    wchar_t shown[40];
    std::swprintf(shown, 40, L"%.15g", value);
    return std::wstring(L"number ") + shown;
  }
  if (Matches(trimmed, LR"(\d{1,2}:\d{2}(?::\d{2})?(?:\s*[AaPp][Mm])?)") ||
      Matches(trimmed, LR"(\d{2,4}年\d{1,2}月(?:\d{1,2}日)?|\d{1,2}月\d{1,2}日)")) {
    return L"date " + trimmed;
  }
  std::wsmatch parts;
  if (std::regex_match(trimmed, parts,
                       std::wregex(LR"((\d{1,4})([-/])(\d{1,4})(?:\2(\d{1,4}))?)"))) {
    std::vector<int> n = {std::stoi(parts[1].str()), std::stoi(parts[3].str())};
    if (parts[4].matched) n.push_back(std::stoi(parts[4].str()));
    if (IsDate(n)) return L"date " + trimmed;
  }
  return text;
}

std::string Describe(const Call& call) {
  std::string line = std::string(KindName(call.object)) + "." + call.method;
  if (call.method == "QueryInterface" || call.method == "CreateInstance") {
    return line + " " + IidName(call.iid);
  }
  if (call.method == "GetIDsOfNames") {
    return line + " " + Utf8(call.name) + " lcid=" + std::to_string(call.lcid) +
           " iid=" + IidName(call.iid);
  }
  line += " " + Utf8(MemberName(call.object, call.dispid)) + " " + FlagsText(call.flags) +
          " lcid=" + std::to_string(call.lcid) + " iid=" + IidName(call.iid) + " args=[";
  for (std::size_t i = 0; i < call.args.size(); ++i) {
    const Argument& a = call.args[i];
    line += (i ? ", " : "") + std::string(TypeName(a.vt));
    if (a.vt == VT_BSTR) line += " \"" + Utf8(a.value) + "\"";
    if (a.vt == VT_I4 || a.vt == VT_I2 || a.vt == VT_BOOL || a.vt == VT_ERROR ||
        a.vt == (VT_ARRAY | VT_VARIANT)) {
      line += " " + Utf8(a.value);
    }
  }
  line += "]";
  if (!call.named.empty()) {
    line += " named=[";
    for (std::size_t i = 0; i < call.named.size(); ++i) {
      line +=
          (i ? ", " : "") + (call.named[i] == DISPID_PROPERTYPUT ? std::string("put")
                                                                 : std::to_string(call.named[i]));
    }
    line += "]";
  }
  line += call.result_requested ? " result" : " no-result";
  if (!call.excepinfo_given) line += " no-excepinfo";
  return line;
}

bool RealExcelRunning() {
  IUnknown* running = nullptr;
  if (FAILED(GetActiveObject(kExcelApplicationClass, nullptr, &running))) return false;
  running->Release();
  return true;
}

bool RealExcelInstalled() {
  wchar_t command[1024] = L"";
  DWORD size = sizeof command;
  const LSTATUS status = RegGetValueW(
      HKEY_CLASSES_ROOT, L"CLSID\\{00024500-0000-0000-C000-000000000046}\\LocalServer32", nullptr,
      RRF_RT_REG_SZ, nullptr, command, &size);
  // The fake's own registration as a local server does not count.
  return status == ERROR_SUCCESS && !std::wcsstr(command, L"fake_excel_server");
}

int State::LiveObjects() const {
  int n = 0;
  for (int k = 0; k < kKinds; ++k) {
    if (k != static_cast<int>(Kind::Factory)) n += live[k];
  }
  return n;
}

Server::Server(const CLSID& clsid) : clsid_(clsid), state_(std::make_shared<State>()) {}

Server::~Server() { Revoke(); }

void Server::RegisterClass() {
  auto* factory = new Factory(state_);
  const HRESULT hr = CoRegisterClassObject(clsid_, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                           &class_cookie_);
  factory->Release();
  Check(hr, "CoRegisterClassObject");
  class_registered_ = true;
}

void Server::RunInstance() {
  auto* application = new Object(state_, Kind::Application);
  const HRESULT hr =
      RegisterActiveObject(application, clsid_, ACTIVEOBJECT_STRONG, &active_cookie_);
  application->Release();
  Check(hr, "RegisterActiveObject");
  active_registered_ = true;
}

void Server::Revoke() {
  if (std::exchange(active_registered_, false)) RevokeActiveObject(active_cookie_, nullptr);
  if (std::exchange(class_registered_, false)) CoRevokeClassObject(class_cookie_);
}

std::vector<std::string> State::Log() const {
  std::vector<std::string> lines;
  for (const Call& call : calls) {
    if (call.method == "QueryInterface" && !IsExcelInterface(call.iid)) continue;
    lines.push_back(Describe(call));
  }
  return lines;
}

// One fact a line: "pid 12", "log <call>", "cell <book> <row> <column> <text>" and so on; the
// file is replaced whole, so a reader never sees half of it.
void State::Changed() const {
  if (state_file.empty() || quiet) return;
  std::ostringstream out;
  out << "pid " << GetCurrentProcessId() << "\nthread " << GetCurrentThreadId() << "\nready "
      << ready << "\nvisible " << visible << "\nquit " << quit << "\nlive " << LiveObjects()
      << "\nworkbooks " << workbooks.size() << "\n";
  for (const std::string& line : Log()) out << "log " << line << "\n";
  for (std::size_t b = 0; b < workbooks.size(); ++b) {
    if (workbooks[b].sheets.empty()) continue;
    for (const auto& [at, text] : workbooks[b].sheets[0].cells) {
      out << "cell " << b << " " << at.first << " " << at.second << " " << Utf8(text) << "\n";
    }
  }
  const std::wstring temporary = state_file + L".new";
  {
    std::ofstream file(std::filesystem::path(temporary), std::ios::binary | std::ios::trunc);
    file << out.str();
  }
  // The test may be reading the file just then, which keeps it from being replaced.
  for (int i = 0; i < 500; ++i) {
    if (MoveFileExW(temporary.c_str(), state_file.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
    Sleep(10);
  }
}

std::optional<ServerState> ReadServerState(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) return std::nullopt;
  ServerState state;
  std::string line;
  while (std::getline(file, line)) {
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "pid") state.pid = static_cast<DWORD>(std::stoul(value));
    if (key == "thread") state.thread = static_cast<DWORD>(std::stoul(value));
    if (key == "visible") state.visible = value == "1";
    if (key == "ready") state.ready = value == "1";
    if (key == "quit") state.quit = value == "1";
    if (key == "live") state.live = std::stoi(value);
    if (key == "workbooks") state.workbooks = std::stoi(value);
    if (key == "log") state.log.push_back(value);
    if (key == "cell") {
      std::istringstream fields(value);
      int b = 0, r = 0, c = 0;
      fields >> b >> r >> c;
      std::string text;
      fields.get();
      std::getline(fields, text);
      state.cells[{b, r, c}] = Wide(text);
    }
  }
  return state;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
  return out;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

namespace {
bool InterfaceRegistered(const IID& iid) {
  wchar_t key[64] = L"Interface\\";
  StringFromGUID2(iid, key + 10, 40);
  wcscat(key, L"\\TypeLib");
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}
}  // namespace

void RegisterExcelInterfaces() {
  if (InterfaceRegistered(kApplicationInterface) && InterfaceRegistered(kWorksheetInterface)) {
    return;
  }
  // {6F1D6C55-3A3B-4E0B-9F55-7A4C2E1B8D01}: the fake's own library.
  const GUID library = {
      0x6F1D6C55, 0x3A3B, 0x4E0B, {0x9F, 0x55, 0x7A, 0x4C, 0x2E, 0x1B, 0x8D, 0x01}};
  const GUID stdole = {
      0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  const std::wstring path = ProgramFolder() + L"fake_excel.tlb";
  ICreateTypeLib2* lib = nullptr;
  Check(CreateTypeLib2(SYS_WIN64, path.c_str(), &lib), "CreateTypeLib2");
  lib->SetGuid(library);
  lib->SetName(const_cast<LPOLESTR>(L"FakeExcel"));
  lib->SetVersion(1, 0);
  lib->SetLcid(LOCALE_NEUTRAL);
  ITypeLib* ole = nullptr;
  Check(LoadRegTypeLib(stdole, 2, 0, LOCALE_NEUTRAL, &ole), "LoadRegTypeLib stdole2");
  ITypeInfo* dispatch = nullptr;
  Check(ole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch), "IDispatch's type information");
  struct Named {
    const wchar_t* name;
    const IID* iid;
  };
  for (const Named& n : {Named{L"_Application", &kApplicationInterface},
                         Named{L"_Worksheet", &kWorksheetInterface}}) {
    ICreateTypeInfo* info = nullptr;
    Check(lib->CreateTypeInfo(const_cast<LPOLESTR>(n.name), TKIND_DISPATCH, &info),
          "CreateTypeInfo");
    info->SetGuid(*n.iid);
    HREFTYPE base = 0;
    Check(info->AddRefTypeInfo(dispatch, &base), "AddRefTypeInfo");
    Check(info->AddImplType(0, base), "AddImplType");
    Check(info->LayOut(), "LayOut");
    info->Release();
  }
  Check(lib->SaveAllChanges(), "SaveAllChanges");
  lib->Release();
  dispatch->Release();
  ole->Release();
  ITypeLib* saved = nullptr;
  Check(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &saved), "registering the type library");
  saved->Release();
}

}  // namespace fake_excel
