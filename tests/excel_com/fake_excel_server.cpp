// The fake Excel as a local server in a process of its own, as the real Excel runs: started by
// COM from the LocalServer32 registration, it registers its class object; started by a test
// with --running, it registers a running instance. It serves until WM_QUIT reaches its thread,
// and then revokes what it registered.
//   fake_excel_server --state FILE [--clsid {CLSID}] [--running] [--reject FROM COUNT]
//                     [--hang N EVENT] [--wps] [--quiet] [--refuse-arrays HRESULT]
//                     [--element-limit N] [--sheet-rows N] [-Embedding]
// --reject: the FROM-th Invoke that arrives and the COUNT-1 after it (retries included) are
// rejected as a busy Excel rejects them. --hang: the N-th Invoke never returns; EVENT (a named
// event) is set when it starts. --wps: cells take texts as WPS's do. --quiet: the state file is
// written until the server is ready, and no calls or cells are recorded (for timing many calls).
// --refuse-arrays: array puts fail with that code (hexadecimal), as an older WPS's;
// --element-limit: array elements longer fail the put (Excel 2003: 911); --sheet-rows: the
// sheets' Rows.Count (Excel 2003: 65536).
#include <string>

#include "fake_excel.h"

namespace {

// A busy Excel: rejects incoming calls of IDispatch::Invoke in the given range.
class BusyFilter final : public IMessageFilter {
 public:
  BusyFilter(int from, int count) : from_(from), count_(count) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMessageFilter)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO info) override {
    constexpr WORD kInvoke = 6;  // IDispatch's seventh method
    if (!info || info->wMethod != kInvoke) return SERVERCALL_ISHANDLED;
    ++arrived_;
    return arrived_ >= from_ && arrived_ < from_ + count_ ? SERVERCALL_REJECTED
                                                          : SERVERCALL_ISHANDLED;
  }
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override {
    return static_cast<DWORD>(-1);
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  int from_;
  int count_;
  int arrived_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring state_file;
  CLSID clsid = fake_excel::kExcelApplicationClass;
  bool running = false, wps = false, quiet = false;
  int reject_from = 0, reject_count = 0, hang = 0, element_limit = 0, sheet_rows = 0;
  HRESULT refuse_arrays = S_OK;
  std::wstring hung_event;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool more = i + 1 < argc;
    if (arg == L"--state" && more) state_file = argv[++i];
    if (arg == L"--clsid" && more) CLSIDFromString(argv[++i], &clsid);
    if (arg == L"--running") running = true;
    if (arg == L"--wps") wps = true;
    if (arg == L"--quiet") quiet = true;
    if (arg == L"--reject" && i + 2 < argc) {
      reject_from = std::stoi(argv[++i]);
      reject_count = std::stoi(argv[++i]);
    }
    if (arg == L"--refuse-arrays" && more) {
      refuse_arrays = static_cast<HRESULT>(std::stoul(argv[++i], nullptr, 16));
    }
    if (arg == L"--element-limit" && more) element_limit = std::stoi(argv[++i]);
    if (arg == L"--sheet-rows" && more) sheet_rows = std::stoi(argv[++i]);
    if (arg == L"--hang" && i + 2 < argc) {
      hang = std::stoi(argv[++i]);
      hung_event = argv[++i];
    }
  }
  if (state_file.empty() || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  fake_excel::RegisterExcelInterfaces();
  BusyFilter busy(reject_from, reject_count);
  if (reject_count > 0) CoRegisterMessageFilter(&busy, nullptr);
  {
    fake_excel::Server server(clsid);
    fake_excel::State& state = server.state();
    state.hang_invoke = hang;
    state.hung_event = hung_event;
    state.state_file = state_file;
    state.wps = wps;
    state.refuse_arrays = refuse_arrays;
    state.element_limit = element_limit;
    if (sheet_rows > 0) state.sheet_rows = sheet_rows;
    // Started by the user, it is the running instance; started by COM, it serves its class.
    if (running) {
      server.RunInstance();
    } else {
      server.RegisterClass();
    }
    state.ready = true;
    state.Changed();
    state.quiet = quiet;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }
  CoUninitialize();
  return 0;
}
