#include "calc_readback.h"

#include <chrono>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <thread>

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace tessaly::testing {

namespace {

OUString U(const std::string& utf8) {
  return rtl::OStringToOUString(rtl::OString(utf8.c_str()), RTL_TEXTENCODING_UTF8);
}
std::string Utf8(const OUString& s) {
  const rtl::OString b = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(b.getStr(), static_cast<std::size_t>(b.getLength()));
}

}  // namespace

Reference<css::frame::XDesktop2> Connect(const std::string& pipe) {
  static Reference<css::uno::XComponentContext> local = [] {
    rtl::Bootstrap::set("URE_BOOTSTRAP",
                        "vnd.sun.star.pathname:" TESSALY_LO_PROGRAM_DIR "/fundamentalrc");
    return cppu::defaultBootstrap_InitialComponentContext();
  }();
  const auto resolver = css::bridge::UnoUrlResolver::create(local);
  const OUString url = U("uno:pipe,name=" + pipe + ";urp;StarOffice.ComponentContext");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (;;) {
    try {
      Reference<css::uno::XComponentContext> remote(resolver->resolve(url), UNO_QUERY_THROW);
      return css::frame::Desktop::create(remote);
    } catch (const css::uno::Exception&) {
      if (std::chrono::steady_clock::now() > deadline) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
}

std::vector<Doc> CalcDocuments(const Reference<css::frame::XDesktop2>& desktop) {
  std::vector<Doc> docs;
  const auto e = desktop->getComponents()->createEnumeration();
  while (e->hasMoreElements()) {
    Doc doc(e->nextElement(), UNO_QUERY);
    if (doc.is()) docs.push_back(doc);
  }
  return docs;
}

std::vector<Doc> Added(const std::vector<Doc>& before, const std::vector<Doc>& after) {
  std::vector<Doc> added;
  for (const auto& d : after) {
    bool old = false;
    for (const auto& b : before) old = old || b == d;
    if (!old) added.push_back(d);
  }
  return added;
}

Reference<css::sheet::XSpreadsheet> FirstSheet(const Doc& doc, int index) {
  const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
  return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(index), UNO_QUERY_THROW);
}

int SheetCount(const Doc& doc) {
  return Reference<css::container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW)->getCount();
}

Grid ReadFirstSheet(const Doc& doc, int index) {
  const auto sheet = FirstSheet(doc, index);
  const Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
  const Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
  used->gotoEndOfUsedArea(false);
  const auto end =
      Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
  const Reference<css::sheet::XCellRangeData> range(
      sheet->getCellRangeByPosition(0, 0, end.EndColumn, end.EndRow), UNO_QUERY_THROW);
  Grid grid;
  for (const auto& row : range->getDataArray()) {
    auto& out = grid.emplace_back();
    for (const Any& value : row) {
      Cell cell;
      OUString s;
      if (value >>= s) {
        cell.text = Utf8(s);
        cell.is_text = true;
      }
      out.push_back(cell);
    }
  }
  return grid;
}

}  // namespace tessaly::testing
