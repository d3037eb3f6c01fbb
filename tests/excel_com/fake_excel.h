// A fake Excel automation server: the objects of Excel's object model that the export uses, each
// an IDispatch, registered for Excel's class as the class object that starts a new instance and,
// for the running-instance path, as the active object. It records every call, can fail a chosen
// one, and counts its live objects. It serves from the test process, or as a local server in a
// process of its own (fake_excel_server), which writes what it knows to a file after every call.
// Its cells take a text put into them as Excel's and WPS's General cells take it (GeneralCell),
// one at a time (Cells.Item) or as the elements of an array put into Range(address).Value.
#pragma once

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fake_excel {

extern const CLSID kExcelApplicationClass;
extern const IID kApplicationInterface;
extern const IID kWorkbookInterface;
extern const IID kWorksheetInterface;

enum class Kind { Factory, Application, Workbooks, Workbook, Worksheets, Worksheet, Range };
inline constexpr int kKinds = 7;

// Dispatch ids as in Excel's type library.
inline constexpr DISPID kWorkbooks = 0x23C, kVisible = 0x22E, kQuit = 0x12E, kAdd = 0xB5,
                        kWorksheets = 0x1EE, kCells = 0xEE, kRows = 0x102, kItem = 0xAA,
                        kCount = 0x76, kRange = 0xC5, kValue = 0x06;

struct Argument {
  VARTYPE vt = VT_EMPTY;
  std::wstring value;  // strings as they are, numbers in decimal
};

struct Call {
  Kind object = Kind::Application;
  std::string method;  // CreateInstance, QueryInterface, GetIDsOfNames, Invoke
  std::wstring name;   // GetIDsOfNames: the name asked for
  DISPID dispid = DISPID_UNKNOWN;
  WORD flags = 0;
  LCID lcid = 0;
  IID iid = IID_NULL;          // QueryInterface, CreateInstance: asked for; else riid
  std::vector<Argument> args;  // Invoke: rgvarg as passed, last argument first
  std::vector<DISPID> named;
  bool result_requested = false;
  bool excepinfo_given = false;
};

// One line per call, e.g.
//   range.Invoke Item put lcid=0 args=[VT_BSTR "名称", VT_I4 1, VT_I4 1] named=[put] no-result
std::string Describe(const Call& call);

// The call to fail: the occurrence-th call of that method on that kind of object (for Invoke
// and GetIDsOfNames, of that member only).
struct Failure {
  Kind object = Kind::Application;
  std::string method = "Invoke";
  std::wstring member;  // Invoke, GetIDsOfNames: the member's name; empty: any
  int occurrence = 1;
  HRESULT code = E_FAIL;
  enum class Report {
    Code,           // the call returns the code
    Description,    // DISP_E_EXCEPTION, EXCEPINFO with scode and description
    NoDescription,  // DISP_E_EXCEPTION, EXCEPINFO with scode only
  } report = Report::Code;
  std::wstring description;
};

// What a General cell holds for a text put into it, as Excel (and WPS, wps true) take typed
// input: a text that reads as a number, a date or time, a truth value or a formula becomes one,
// shown here as its kind and what was read ("number 12" for "0012", "date 1-2", "formula =1+1");
// an apostrophe in front keeps the rest as text, unchanged. WPS keeps a number of more than 11
// digits as text.
std::wstring GeneralCell(const std::wstring& text, bool wps);

using CellMap = std::map<std::pair<int, int>, std::wstring>;
struct Sheet {
  CellMap cells;
  int id = 0;  // how the fake's objects find the sheet, wherever sheets are inserted
};
struct Workbook {
  std::vector<Sheet> sheets;
};

// What the fake Excel knows, shared by all its objects.
struct State {
  std::vector<Call> calls;
  std::vector<Workbook> workbooks;
  bool visible = false;
  bool quit = false;
  std::optional<Failure> failure;
  int failure_matches = 0;
  bool application_has_interface = true;  // answers QueryInterface for _Application
  bool first_sheet_is_worksheet = true;   // answers QueryInterface for _Worksheet
  int sheets_in_new_workbook = 3;
  int sheet_rows = 1'048'576;  // Rows.Count of every sheet; Excel 2003: 65,536
  bool wps = false;            // cells take texts as WPS's do
  // Range.Value puts of arrays: refused with this code (an older WPS: DISP_E_MEMBERNOTFOUND,
  // DISP_E_TYPEMISMATCH, E_NOTIMPL); S_OK: taken.
  HRESULT refuse_arrays = S_OK;
  // An array element longer than this fails the whole put with Excel's error 1004, as in
  // Excel 2003 (911) and 2007 (8,203); 0: no limit.
  int element_limit = 0;
  int sheets_made = 0;
  int live[kKinds] = {};
  // The Invoke (counted from 1 over all objects) that never returns; 0: none. Before it
  // blocks, the named event is set.
  int hang_invoke = 0;
  std::wstring hung_event;
  int invokes = 0;
  // Where the local server writes its state after every change; empty: nowhere. Quiet: the
  // file is not written and no calls are recorded (for timing many calls).
  std::wstring state_file;
  bool quiet = false;
  bool ready = false;  // registered, serving

  // Objects of the object model alive now (the class object not counted).
  int LiveObjects() const;
  // The calls so far, described; QueryInterface calls only for Excel's interfaces (the COM
  // runtime asks for others of its own, IDispatch among them when it marshals an object).
  std::vector<std::string> Log() const;
  // Writes the state file, if there is one.
  void Changed() const;
};

// The fake Excel of one test. The destructor revokes what is registered.
class Server {
 public:
  explicit Server(const CLSID& clsid = kExcelApplicationClass);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  State& state() { return *state_; }
  // Lets CoCreateInstance start "Excel" (CoRegisterClassObject).
  void RegisterClass();
  // Makes an application object the running Excel (RegisterActiveObject).
  void RunInstance();
  void Revoke();

  std::vector<std::string> Log() const { return state_->Log(); }

 private:
  CLSID clsid_;
  std::shared_ptr<State> state_;
  DWORD class_cookie_ = 0;
  DWORD active_cookie_ = 0;
  bool class_registered_ = false;
  bool active_registered_ = false;
};

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// Describes the two interfaces the export asks Excel's objects for (_Application, _Worksheet) in a
// type library, registered in the machine's (wine's prefix's) registry, so that COM can marshal
// them between apartments and processes as it does with Excel's own type library. Nothing where
// they are registered already.
void RegisterExcelInterfaces();

// What a fake Excel in its own process wrote to its state file.
struct ServerState {
  DWORD pid = 0;
  DWORD thread = 0;  // the one that serves; WM_QUIT to it ends the server
  bool ready = false;
  bool visible = false;
  bool quit = false;
  int live = 0;
  std::vector<std::string> log;
  std::map<std::tuple<int, int, int>, std::wstring> cells;  // (workbook, row, column), sheet 1
  int workbooks = 0;
};
// Reads the file; nullopt when there is none (yet).
std::optional<ServerState> ReadServerState(const std::wstring& path);

// The folder of the running executable, with a trailing backslash.
std::wstring ProgramFolder();

// On a Windows machine with Excel, the real one could answer in place of the fake: a running
// Excel is found before the fake's running instance, and an installed one starts where no fake
// is registered. Tests that would reach it skip themselves.
bool RealExcelRunning();
bool RealExcelInstalled();

}  // namespace fake_excel
