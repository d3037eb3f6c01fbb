// LibreOffice Calc over UNO: the body of libtessaly_calc.so. The office runs in a process of
// its own and is reached on a named pipe; the application component holds its desktop, the
// workbook component a spreadsheet document, the worksheet component that document's first
// sheet. UNO failures are turned into the sentences the user reads here and nowhere else.
#include <rtl/textenc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/connection/XConnector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <mutex>
#include <rtl/bootstrap.hxx>
#include <rtl/string.hxx>
#include <rtl/ustring.hxx>
#include <string>
#include <thread>
#include <vector>

#include "automation.h"
#include "calc.h"
#include "office_start_posix.h"
#include "usertexts.h"

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace tessaly {

namespace {

// What the user reads when an export breaks off; the failure display adds the full stop.
constexpr const char* kOfficeStopped = texts::kCalcStopped;
constexpr const char* kDocumentClosed = texts::kCalcDocumentClosed;
constexpr const char* kTooManyRows = texts::kCalcTooManyRows;
constexpr const char* kRefused = texts::kCalcRefused;
constexpr const char* kAbandoned = texts::kCalcGivenUp;
constexpr const char* kNotConnected = texts::kCalcNotConnected;

// A sheet is named as Calc names one in the user's language: the first sheet's name with its
// number counted on ("工作表1" → "工作表3"), skipping names taken.
OUString NewSheetName(const Reference<css::sheet::XSpreadsheets>& sheets, sal_Int32 number) {
  const Sequence<OUString> names = sheets->getElementNames();
  OUString stem = names.hasElements() ? names[0] : OUString("Sheet1");
  sal_Int32 end = stem.getLength();
  while (end > 0 && stem[end - 1] >= '0' && stem[end - 1] <= '9') --end;
  stem = stem.copy(0, end);
  for (;; ++number) {
    const OUString name = stem + OUString::number(number);
    if (!sheets->hasByName(name)) return name;
  }
}

std::string Utf8(const OUString& s) {
  const rtl::OString bytes = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(bytes.getStr(), static_cast<std::size_t>(bytes.getLength()));
}

// UNO messages may carry a source location ("... at ./sc/source/ui/unoobj/cellsuno.cxx:4661",
// "/build/.../bridge.cxx:123: ...") that means nothing to a cataloguer; the location and trailing
// blanks and full stops are dropped.
std::string Plain(const OUString& message) {
  std::string s = Utf8(message);
  for (const char* marker : {"at ./", "at /"}) {
    const auto at = s.find(marker);
    if (at != std::string::npos && (at == 0 || s[at - 1] == ' ')) s.erase(at);
  }
  if (!s.empty() && s.front() == '/') {
    const auto colon = s.find(": ");
    s = colon == std::string::npos ? std::string() : s.substr(colon + 2);
  }
  while (!s.empty() && (static_cast<unsigned char>(s.back()) <= ' ' || s.back() == '.')) {
    s.pop_back();
  }
  return s;
}

// The client side of UNO: bootstrapped once, from the office's fundamentalrc, so that the
// type descriptions of the office API are those of the office the module was built against.
// Deliberately leaked: tearing UNO down at exit races the bridge's threads.
Reference<css::uno::XComponentContext> LocalContext() {
  static Reference<css::uno::XComponentContext>* context = [] {
    rtl::Bootstrap::set("URE_BOOTSTRAP",
                        "vnd.sun.star.pathname:" TESSALY_LO_PROGRAM_DIR "/fundamentalrc");
    return new Reference<css::uno::XComponentContext>(
        cppu::defaultBootstrap_InitialComponentContext());
  }();
  return *context;
}

class CalcSpreadsheet final : public SpreadsheetApplication {
 public:
  explicit CalcSpreadsheet(const CalcOptions& options) : options_(options) {
    options_.block_rows = std::max(1, options_.block_rows);
  }
  ~CalcSpreadsheet() override {
    DisconnectWorksheet();
    DisconnectWorkbook();
    DisconnectApplication();
  }

  void ConnectApplication() override {
    if (desktop_.is()) return;
    CheckAbandoned();
    try {
      Reference<css::uno::XComponentContext> remote = Resolve();
      if (!remote.is()) {
        if (!options_.start_office) {
          throw ConnectError(texts::OfficeNotOnPipe(options_.pipe_name));
        }
        StartDetached(Soffice(), {"--accept=" + AcceptString(), "--nologo"});
        const auto deadline = std::chrono::steady_clock::now() + options_.start_timeout;
        while (!remote.is() && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          CheckAbandoned();
          remote = Resolve();
        }
        if (!remote.is()) {
          const auto seconds =
              std::chrono::duration_cast<std::chrono::seconds>(options_.start_timeout).count();
          throw ConnectError(texts::OfficeDidNotStart(static_cast<int>(seconds)));
        }
      }
      desktop_ = css::frame::Desktop::create(remote);
      RepairGivenUpDocument();
    } catch (const css::uno::Exception& e) {
      desktop_.clear();
      DropBridge();
      CheckAbandoned();
      throw ConnectError(texts::OfficeCannotConnect(Plain(e.Message)));
    } catch (...) {
      desktop_.clear();
      DropBridge();
      throw;
    }
  }

  void AddWorkbook() override {
    Guard([&] {
      // Loaded hidden, shown by SetVisible: the frame is not laid out and painted twice.
      Sequence<css::beans::PropertyValue> args(1);
      args.getArray()[0].Name = "Hidden";
      args.getArray()[0].Value <<= options_.load_hidden;
      Reference<css::sheet::XSpreadsheetDocument> doc(
          Desktop()->loadComponentFromURL("private:factory/scalc", "_blank", 0, args), UNO_QUERY);
      if (!doc.is()) throw AutomationError(texts::kCalcNoNewDocument);
      doc_ = doc;
    });
  }

  void AttachFirstWorksheet() override {
    DisconnectWorksheet();
    Guard([&] {
      if (!doc_.is()) throw AutomationError(texts::kCalcNoDocument);
      const Reference<css::container::XIndexAccess> sheets(doc_->getSheets(), UNO_QUERY_THROW);
      Reference<css::table::XCellRange> sheet(sheets->getByIndex(0), UNO_QUERY);
      if (!sheet.is()) throw AutomationError(texts::kCalcNoSheetInNew);
      sheet_ = sheet;
    });
  }

  std::int64_t SheetRows() override {
    std::int64_t rows = 0;
    Guard([&] {
      const Reference<css::sheet::XCellRangeAddressable> sheet(Sheet(), UNO_QUERY_THROW);
      rows = std::int64_t{sheet->getRangeAddress().EndRow} + 1;
    });
    return options_.sheet_rows > 0 ? std::min<std::int64_t>(rows, options_.sheet_rows) : rows;
  }

  void AddWorksheet() override {
    Flush();
    Guard([&] {
      if (!doc_.is()) throw AutomationError(texts::kCalcNoDocument);
      const Reference<css::sheet::XSpreadsheets> sheets = doc_->getSheets();
      const Reference<css::container::XIndexAccess> index(sheets, UNO_QUERY_THROW);
      const sal_Int32 last = index->getCount();
      sheets->insertNewByName(NewSheetName(sheets, last + 1), static_cast<sal_Int16>(last));
      sheet_.set(index->getByIndex(last), UNO_QUERY_THROW);
    });
  }

  // Calc has no application window of its own: the document's frame is what the user sees.
  void SetVisible() override {
    Guard([&] {
      const Reference<css::frame::XModel> model(doc_, UNO_QUERY);
      if (!model.is()) return;
      const Reference<css::frame::XController> controller = model->getCurrentController();
      if (!controller.is()) return;
      const Reference<css::frame::XFrame> frame = controller->getFrame();
      if (!frame.is()) return;
      const Reference<css::awt::XWindow> window = frame->getContainerWindow();
      if (window.is()) window->setVisible(true);
    });
  }

  // One remote call per cell manages about a thousand cells a second; gathering rows and
  // writing each block with one setDataArray is what makes a large list bearable.
  void PutCell(std::int32_t row, std::int32_t column, std::string_view utf8) override {
    CheckAbandoned();
    if (row < 1 || column < 1) throw AutomationError(texts::kCellOutsideSheet);
    const std::int64_t next_row = first_row_ + static_cast<std::int64_t>(rows_.size());
    const bool continues =
        !rows_.empty() && row >= first_row_ && row <= next_row && column >= first_column_;
    if (!continues ||
        (row == next_row && rows_.size() >= static_cast<std::size_t>(options_.block_rows))) {
      Flush();
    }
    if (rows_.empty()) {
      first_row_ = row;
      first_column_ = column;
    }
    const auto r = static_cast<std::size_t>(row - first_row_);
    if (r >= rows_.size()) rows_.resize(r + 1);
    GatheredRow& cells = rows_[r];
    const auto c = static_cast<std::size_t>(column - first_column_);
    if (c >= cells.text.size()) {
      cells.text.resize(c + 1);
      cells.put.resize(c + 1, false);
    }
    // Every character the list holds, whatever plane it is in.
    cells.text[c] =
        rtl::OUString(utf8.data(), static_cast<sal_Int32>(utf8.size()), RTL_TEXTENCODING_UTF8);
    cells.put[c] = true;
    width_ = std::max(width_, c + 1);
  }

  // Writes the gathered cells as strings, which Calc stores as text cells whatever they look
  // like ("0012", "2001.10"). Rows whose every cell of the block's width was put go in one
  // rectangle per run of such rows (in an export, all but perhaps the last); any other row only
  // by its runs of put cells, because an array write also empties the cells it was not given.
  void Flush() override {
    if (rows_.empty()) return;
    // Taken out first: a block that failed is not written again by a later flush.
    std::vector<GatheredRow> rows;
    rows.swap(rows_);
    const std::size_t width = std::exchange(width_, 0);
    const auto full = [&](const GatheredRow& row) {
      return row.put.size() == width &&
             std::all_of(row.put.begin(), row.put.end(), [](bool p) { return p; });
    };
    Guard([&] {
      Sheet();
      Lock();
      for (std::size_t r = 0; r < rows.size();) {
        const std::int32_t top = first_row_ + static_cast<std::int32_t>(r);
        if (full(rows[r])) {
          std::size_t end = r;
          while (end < rows.size() && full(rows[end])) ++end;
          WriteRange(top, first_column_, rows.begin() + r, rows.begin() + end, 0, width);
          r = end;
          continue;
        }
        const auto& put = rows[r].put;
        for (std::size_t c = 0; c < put.size();) {
          if (!put[c]) {
            ++c;
            continue;
          }
          std::size_t end = c;
          while (end < put.size() && put[end]) ++end;
          WriteRange(top, first_column_ + static_cast<std::int32_t>(c), rows.begin() + r,
                     rows.begin() + r + 1, c, end);
          c = end;
        }
        ++r;
      }
    });
  }

  void Abandon() noexcept override {
    abandoned_ = true;
    // Disposing the bridge closes the pipe and wakes every call waiting for an answer; it waits
    // for those calls to leave, so it runs apart from the caller (the window's thread).
    Reference<css::lang::XComponent> bridge;
    {
      const std::lock_guard lock(bridge_mutex_);
      bridge.set(bridge_, UNO_QUERY);
      bridge_.clear();
    }
    if (!bridge.is()) return;
    try {
      std::thread([bridge] {
        try {
          bridge->dispose();
        } catch (...) {
        }
      }).detach();
    } catch (...) {
    }
  }

  // Writes what was gathered (the cells of an export that failed halfway stay in the sheet),
  // then lets go of the sheet and of the document's locks.
  void DisconnectWorksheet() noexcept override {
    try {
      Flush();
    } catch (...) {
    }
    rows_.clear();
    width_ = 0;
    sheet_.clear();
    Unlock();
  }

  void DisconnectWorkbook() noexcept override {
    Unlock();
    doc_.clear();
  }

  // Only lets go: the office, and every document in it, belongs to the user. The bridge goes
  // too, so that the next export starts from a fresh connection.
  void DisconnectApplication() noexcept override {
    desktop_.clear();
    DropBridge();
    abandoned_ = false;
  }

 private:
  struct GatheredRow {
    std::vector<OUString> text;
    std::vector<bool> put;  // whether text[i] was put, rather than only lying left of one
  };

  // Calc measures the text of every cell it is given to fit the row heights, block by block:
  // that is most of what a block costs (four fifths, measured). The rows are of one line each,
  // so the heights are left alone while the cells arrive and Calc catches up once at the end.
  // Locking the controllers, the document's actions or its undo gains nothing measurable on
  // top, and a lock left behind when the user gives up on a stopped office would keep the
  // document from repainting or undoing: those stay unlocked.
  void Lock() {
    if (locked_ || !options_.lock_document) return;
    const Reference<css::beans::XPropertySet> props(doc_, UNO_QUERY);
    if (!props.is()) return;
    const Reference<css::frame::XTitle> title(doc_, UNO_QUERY);
    locked_title_ = title.is() ? title->getTitle() : OUString();
    props->setPropertyValue("IsAdjustHeightEnabled", Any(false));
    locked_ = true;
  }

  // Gives the document back as the user expects it. An abandoned office is not asked: its
  // bridge is gone, and the next connection puts the row heights right (by the title the
  // document had, the only thing that outlives the bridge).
  void Unlock() noexcept {
    if (!std::exchange(locked_, false)) return;
    if (abandoned_) {
      given_up_title_ = locked_title_;
      return;
    }
    try {
      const Reference<css::beans::XPropertySet> props(doc_, UNO_QUERY);
      if (props.is()) props->setPropertyValue("IsAdjustHeightEnabled", Any(true));
    } catch (...) {
    }
  }

  void RepairGivenUpDocument() noexcept {
    if (given_up_title_.isEmpty()) return;
    const OUString wanted = std::exchange(given_up_title_, OUString());
    try {
      const auto documents = desktop_->getComponents()->createEnumeration();
      while (documents->hasMoreElements()) {
        const Reference<css::frame::XTitle> title(documents->nextElement(), UNO_QUERY);
        const Reference<css::beans::XPropertySet> props(title, UNO_QUERY);
        if (!title.is() || !props.is() || title->getTitle() != wanted) continue;
        bool fitted = true;
        if ((props->getPropertyValue("IsAdjustHeightEnabled") >>= fitted) && !fitted) {
          props->setPropertyValue("IsAdjustHeightEnabled", Any(true));
        }
      }
    } catch (...) {
    }
  }

  // One setDataArray: columns [from, to) of the rows [begin, end), placed with its top left
  // corner at (row, column), both 1-based.
  void WriteRange(std::int32_t row, std::int32_t column,
                  std::vector<GatheredRow>::const_iterator begin,
                  std::vector<GatheredRow>::const_iterator end, std::size_t from, std::size_t to) {
    const auto height = static_cast<sal_Int32>(end - begin);
    const auto width = static_cast<sal_Int32>(to - from);
    Sequence<Sequence<Any>> data(height);
    auto* out = data.getArray();
    for (auto it = begin; it != end; ++it, ++out) {
      Sequence<Any> line(width);
      auto* cell = line.getArray();
      for (std::size_t c = from; c < to; ++c) *cell++ <<= it->text[c];
      *out = std::move(line);
    }
    const Reference<css::sheet::XCellRangeData> range(
        sheet_->getCellRangeByPosition(column - 1, row - 1, column - 1 + width - 1,
                                       row - 1 + height - 1),
        UNO_QUERY_THROW);
    range->setDataArray(data);
  }

  std::string AcceptString() const { return "pipe,name=" + options_.pipe_name + ";urp"; }

  std::string Soffice() const {
    return options_.soffice.empty() ? TESSALY_LO_PROGRAM_DIR "/soffice" : options_.soffice;
  }

  // The office's component context over a bridge of our own (kept, so that Abandon can drop
  // it), or nothing when no office answers on the pipe yet.
  Reference<css::uno::XComponentContext> Resolve() {
    const Reference<css::uno::XComponentContext> local = LocalContext();
    Reference<css::connection::XConnection> connection;
    try {
      connection = css::connection::Connector::create(local)->connect(rtl::OStringToOUString(
          ("pipe,name=" + options_.pipe_name).c_str(), RTL_TEXTENCODING_UTF8));
    } catch (const css::connection::NoConnectException&) {
      return {};
    }
    const Reference<css::bridge::XBridge> bridge =
        css::bridge::BridgeFactory::create(local)->createBridge("", "urp", connection, nullptr);
    {
      const std::lock_guard lock(bridge_mutex_);
      bridge_ = bridge;
    }
    // Given up while the bridge was being made: Abandon may have found none to drop.
    if (abandoned_) {
      {
        const std::lock_guard lock(bridge_mutex_);
        bridge_.clear();
      }
      try {
        Reference<css::lang::XComponent>(bridge, UNO_QUERY_THROW)->dispose();
      } catch (...) {
      }
      CheckAbandoned();
    }
    try {
      Reference<css::uno::XComponentContext> remote(
          bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY);
      if (remote.is()) return remote;
    } catch (const css::uno::RuntimeException&) {
      // An office still starting up may accept the pipe before it can answer.
      CheckAbandoned();
    }
    DropBridge();
    return {};
  }

  // Closes our connection to the office; one that was abandoned is being disposed already.
  void DropBridge() noexcept {
    Reference<css::lang::XComponent> bridge;
    {
      const std::lock_guard lock(bridge_mutex_);
      bridge.set(bridge_, UNO_QUERY);
      bridge_.clear();
    }
    if (!bridge.is() || abandoned_) return;
    try {
      bridge->dispose();
    } catch (...) {
    }
  }

  const Reference<css::table::XCellRange>& Sheet() const {
    if (!sheet_.is()) throw AutomationError(texts::kCalcNoSheet);
    return sheet_;
  }

  const Reference<css::frame::XDesktop2>& Desktop() const {
    if (!desktop_.is()) throw AutomationError(kNotConnected);
    return desktop_;
  }

  void CheckAbandoned() const {
    if (abandoned_) throw AutomationError(kAbandoned);
  }

  template <typename F>
  void Guard(F&& call) {
    CheckAbandoned();
    try {
      call();
    } catch (const css::lang::IndexOutOfBoundsException&) {
      CheckAbandoned();
      throw AutomationError(kTooManyRows);
    } catch (const css::uno::Exception& e) {
      CheckAbandoned();
      throw AutomationError(Explain(e));
    }
  }

  // Why a call failed, as the user can understand it: a dead office and a closed document are
  // told apart by asking the office something harmless.
  std::string Explain(const css::uno::Exception& e) const {
    if (!OfficeAnswers()) return kOfficeStopped;
    if (doc_.is() && !DocumentOpen()) return kDocumentClosed;
    const std::string detail = Plain(e.Message);
    return detail.empty() ? kRefused : std::string(kRefused) + "：" + detail;
  }

  bool OfficeAnswers() const {
    try {
      if (!desktop_.is()) return false;
      desktop_->getCurrentFrame();
      return true;
    } catch (...) {
      return false;
    }
  }

  // A closed document's model refuses its controller; its sheets may still answer.
  bool DocumentOpen() const {
    try {
      const Reference<css::frame::XModel> model(doc_, UNO_QUERY);
      return model.is() && model->getCurrentController().is();
    } catch (...) {
      return false;
    }
  }

  CalcOptions options_;
  Reference<css::frame::XDesktop2> desktop_;         // the application component
  Reference<css::sheet::XSpreadsheetDocument> doc_;  // the workbook component
  Reference<css::table::XCellRange> sheet_;          // the worksheet component

  // The connection's bridge: set on the export's thread, dropped by Abandon from another.
  std::mutex bridge_mutex_;
  Reference<css::bridge::XBridge> bridge_;
  std::atomic<bool> abandoned_{false};

  bool locked_ = false;  // row heights held while the cells arrive
  OUString locked_title_;
  // The document whose row heights were held when the user gave up.
  OUString given_up_title_;

  // Cells gathered since the last block was written: rows from first_row_, columns from
  // first_column_ (both 1-based), width_ the widest row.
  std::vector<GatheredRow> rows_;
  std::int32_t first_row_ = 1;
  std::int32_t first_column_ = 1;
  std::size_t width_ = 0;
};

}  // namespace

}  // namespace tessaly

extern "C" __attribute__((visibility("default"))) tessaly::SpreadsheetApplication*
tessaly_calc_create(const tessaly::CalcOptions& options, int abi) {
  if (abi != tessaly::kCalcModuleAbi) return nullptr;
  return new tessaly::CalcSpreadsheet(options);
}
