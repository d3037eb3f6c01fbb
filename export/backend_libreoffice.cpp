// LibreOffice Calc over UNO: the body of libtessaly_calc.so. The office runs in a process of
// its own and is reached on a named pipe; the application component holds its desktop, the
// workbook component a spreadsheet document, the worksheet component that document's first
// sheet. UNO failures are turned into the sentences the user reads here and nowhere else.
#include <rtl/textenc.h>

#include <algorithm>
#include <chrono>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/string.hxx>
#include <rtl/ustring.hxx>
#include <string>
#include <thread>
#include <vector>

#include "automation.h"
#include "calc.h"
#include "office_start_posix.h"

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
constexpr const char* kOfficeStopped = "LibreOffice Calc stopped before the export finished";
constexpr const char* kDocumentClosed = "The Calc document was closed before the export finished";
constexpr const char* kTooManyRows = "The list has more rows than a Calc sheet can hold";
constexpr const char* kRefused = "LibreOffice Calc refused the export";

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
    try {
      const Reference<css::bridge::XUnoUrlResolver> resolver =
          css::bridge::UnoUrlResolver::create(LocalContext());
      Reference<css::uno::XComponentContext> remote = Resolve(resolver);
      if (!remote.is()) {
        if (!options_.start_office) {
          throw ConnectError("No LibreOffice answers on the pipe " + options_.pipe_name);
        }
        StartDetached(Soffice(), {"--accept=" + AcceptString(), "--nologo"});
        const auto deadline = std::chrono::steady_clock::now() + options_.start_timeout;
        while (!remote.is() && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          remote = Resolve(resolver);
        }
        if (!remote.is()) {
          const auto seconds =
              std::chrono::duration_cast<std::chrono::seconds>(options_.start_timeout).count();
          throw ConnectError("LibreOffice did not start within " + std::to_string(seconds) +
                             " seconds");
        }
      }
      desktop_ = css::frame::Desktop::create(remote);
    } catch (const css::uno::Exception& e) {
      desktop_.clear();
      throw ConnectError("LibreOffice cannot be reached: " + Plain(e.Message));
    }
  }

  void AddWorkbook() override {
    Guard([&] {
      Sequence<css::beans::PropertyValue> args(1);
      args.getArray()[0].Name = "Hidden";
      args.getArray()[0].Value <<= false;
      Reference<css::sheet::XSpreadsheetDocument> doc(
          Desktop()->loadComponentFromURL("private:factory/scalc", "_blank", 0, args), UNO_QUERY);
      if (!doc.is()) throw AutomationError("LibreOffice did not open a new Calc document");
      doc_ = doc;
    });
  }

  void AttachFirstWorksheet() override {
    DisconnectWorksheet();
    Guard([&] {
      if (!doc_.is()) throw AutomationError("No Calc document is open for the export");
      const Reference<css::container::XIndexAccess> sheets(doc_->getSheets(), UNO_QUERY_THROW);
      Reference<css::table::XCellRange> sheet(sheets->getByIndex(0), UNO_QUERY);
      if (!sheet.is()) throw AutomationError("The new Calc document has no sheet");
      sheet_ = sheet;
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
  void PutCell(std::int32_t row, std::int32_t column, std::string_view text) override {
    if (row < 1 || column < 1) throw AutomationError("Cell outside the sheet");
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
    cells.text[c] = rtl::OStringToOUString(
        rtl::OString(text.data(), static_cast<sal_Int32>(text.size())), RTL_TEXTENCODING_UTF8);
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
      if (!sheet_.is()) throw AutomationError("No Calc sheet is open for the export");
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

  // Writes what was gathered (the cells of an export that failed halfway stay in the sheet),
  // then lets go of the sheet.
  void DisconnectWorksheet() noexcept override {
    try {
      Flush();
    } catch (...) {
    }
    rows_.clear();
    width_ = 0;
    sheet_.clear();
  }

  void DisconnectWorkbook() noexcept override { doc_.clear(); }

  // Only lets go: the office, and every document in it, belongs to the user.
  void DisconnectApplication() noexcept override { desktop_.clear(); }

 private:
  struct GatheredRow {
    std::vector<OUString> text;
    std::vector<bool> put;  // whether text[i] was put, rather than only lying left of one
  };

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

  OUString AcceptUrl() const {
    return "uno:" + rtl::OStringToOUString(AcceptString().c_str(), RTL_TEXTENCODING_UTF8) +
           ";StarOffice.ComponentContext";
  }
  std::string AcceptString() const { return "pipe,name=" + options_.pipe_name + ";urp"; }

  std::string Soffice() const {
    return options_.soffice.empty() ? TESSALY_LO_PROGRAM_DIR "/soffice" : options_.soffice;
  }

  // The office's component context, or nothing when no office answers on the pipe yet.
  Reference<css::uno::XComponentContext> Resolve(
      const Reference<css::bridge::XUnoUrlResolver>& resolver) const {
    try {
      return Reference<css::uno::XComponentContext>(resolver->resolve(AcceptUrl()), UNO_QUERY);
    } catch (const css::connection::NoConnectException&) {
    } catch (const css::uno::RuntimeException&) {
      // An office still starting up may accept the pipe before it can answer.
    }
    return {};
  }

  const Reference<css::frame::XDesktop2>& Desktop() const {
    if (!desktop_.is()) throw AutomationError("LibreOffice Calc is not connected");
    return desktop_;
  }

  template <typename F>
  void Guard(F&& call) {
    try {
      call();
    } catch (const css::lang::IndexOutOfBoundsException&) {
      throw AutomationError(kTooManyRows);
    } catch (const css::uno::Exception& e) {
      throw AutomationError(Explain(e));
    }
  }

  // Why a call failed, as the user can understand it: a dead office and a closed document are
  // told apart by asking the office something harmless.
  std::string Explain(const css::uno::Exception& e) const {
    if (!OfficeAnswers()) return kOfficeStopped;
    if (doc_.is() && !DocumentOpen()) return kDocumentClosed;
    const std::string detail = Plain(e.Message);
    return detail.empty() ? kRefused : std::string(kRefused) + ": " + detail;
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
  Reference<css::frame::XDesktop2> desktop_;         // ExcelApplication1
  Reference<css::sheet::XSpreadsheetDocument> doc_;  // ExcelWorkbook1
  Reference<css::table::XCellRange> sheet_;          // ExcelWorksheet1

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
