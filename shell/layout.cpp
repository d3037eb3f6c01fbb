#include "layout.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>

#include "usertexts.h"

namespace tessaly::layout {

namespace {

constexpr int kFont = 13;
constexpr int kEditFont = 19;
// The list is this much shorter than the window's outer height besides the panels.
constexpr int kListSlack = 50;

// Panel2 has no children; Edit1 is the window's, drawn over Panel2's band. The keyboard order
// within Panel1 is open, exit, clear, export.
// clang-format off
constexpr Control kControls[] = {
    {"MarcFun", Kind::Window, "", {0, 0, 719, 458}, Align::None, texts::kWindowCaption, -1, true, true, kFont, Command::None, std::nullopt},
    {"Panel1", Kind::Panel, "", {0, 0, 719, 73}, Align::Top, "", 1, true, true, kFont, Command::None, std::nullopt},
    {"Panel2", Kind::Panel, "", {0, 73, 719, 48}, Align::Top, "", 3, true, true, kFont, Command::None, std::nullopt},
    {"ListView1", Kind::ListView, "", {0, 121, 719, 265}, Align::Top, "", 2, true, true, kFont, Command::None, std::nullopt},
    {"Edit1", Kind::Edit, "", {16, 80, 681, 27}, Align::None, texts::kEdit1Banner, 4, true, true, kEditFont, Command::None, std::nullopt},
    {"Button1", Kind::Button, "Panel1", {16, 16, 105, 25}, Align::None, texts::kButton1, 0, true, true, kFont, Command::Open, std::nullopt},
    {"Button5", Kind::Button, "Panel1", {128, 16, 89, 25}, Align::None, texts::kButton5, 4, true, true, kFont, Command::Export, std::nullopt},
    {"Button3", Kind::Button, "Panel1", {224, 16, 89, 25}, Align::None, texts::kButton3, 3, true, true, kFont, Command::Clear, std::nullopt},
    {"Button4", Kind::Button, "Panel1", {320, 16, 75, 25}, Align::None, texts::kButton4, 2, true, true, kFont, Command::Quit, std::nullopt},
    {"Label1", Kind::Label, "Panel1", {520, 24, 42, 13}, Align::None, "Label1", -1, true, true, kFont, Command::None, LabelId::RowCount},
    {"Label2", Kind::Label, "Panel1", {520, 40, 42, 13}, Align::None, "Label2", -1, true, true, kFont, Command::None, LabelId::Elapsed},
};
// clang-format on

template <class Match>
const Control& FindBy(Match match, const std::string& what) {
  for (const Control& c : kControls) {
    if (match(c)) return c;
  }
  throw std::out_of_range("no control " + what);
}

int Scaled(int pixels, int dpi) {
  // Rounded to the nearest pixel, as MulDiv does.
  const long long scaled = static_cast<long long>(pixels) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : (scaled - 48) / 96);
}

Rect Scaled(const Rect& r, int dpi) {
  return {Scaled(r.left, dpi), Scaled(r.top, dpi), Scaled(r.width, dpi), Scaled(r.height, dpi)};
}

}  // namespace

std::span<const Control> MainWindow() { return kControls; }

const Control& Find(std::string_view name) {
  return FindBy([&](const Control& c) { return c.name == name; }, std::string(name));
}

const Control& Find(Kind kind) {
  return FindBy([&](const Control& c) { return c.kind == kind; },
                "of kind " + std::to_string(static_cast<int>(kind)));
}

const Control& Find(Command command) {
  return FindBy([&](const Control& c) { return c.command == command; },
                "for command " + std::to_string(static_cast<int>(command)));
}

const Control& Find(LabelId label) {
  return FindBy([&](const Control& c) { return c.shows == label; },
                "for label " + std::to_string(static_cast<int>(label)));
}

std::vector<Place> Places(int clientWidth, int listHeight, int dpi,
                          std::span<const Control> table) {
  std::vector<Place> places;
  places.reserve(table.size());
  // Stacking and parents in the table's pixels; the full width is the client's own.
  std::map<std::string_view, std::size_t> byName;
  std::map<std::string_view, int> stacked;  // the next top-aligned top within each parent
  for (const Control& c : table) {
    if (c.kind == Kind::Window) continue;
    const Place* parent = nullptr;
    if (!c.parent.empty()) parent = &places.at(byName.at(c.parent));
    const bool list = c.kind == Kind::ListView;
    Place p{&c, {}, c.rect, c.visible && (!list || listHeight > 0)};
    if (list) p.inParent.height = std::max(listHeight, 0);
    if (c.align == Align::Top) {
      int& top = stacked[c.parent];
      p.inParent.left = 0;
      p.inParent.top = top;
      if (p.shown) top += p.inParent.height;
    }
    p.inWindow = p.inParent;
    if (parent) {
      p.inWindow.left += parent->inWindow.left;
      p.inWindow.top += parent->inWindow.top;
      p.shown = p.shown && parent->shown;
    }
    byName[c.name] = places.size();
    places.push_back(p);
  }
  // Parents come before their children: a top-aligned child takes its parent's scaled width.
  for (Place& p : places) {
    p.inWindow = Scaled(p.inWindow, dpi);
    p.inParent = Scaled(p.inParent, dpi);
    if (p.control->align != Align::Top) continue;
    const int width = p.control->parent.empty()
                          ? std::max(clientWidth, 0)
                          : places.at(byName.at(p.control->parent)).inParent.width;
    p.inWindow.width = p.inParent.width = width;
  }
  return places;
}

std::vector<const Control*> TabChain(std::span<const Control> table) {
  std::map<std::string_view, std::multimap<int, const Control*>> byParent;
  for (const Control& c : table) {
    if (c.kind != Kind::Window && c.tabOrder >= 0 && c.visible)
      byParent[c.parent].emplace(c.tabOrder, &c);
  }
  std::vector<const Control*> chain;
  for (const auto& [order, c] : byParent[""]) {
    if (const auto children = byParent.find(c->name); children != byParent.end()) {
      for (const auto& [inner, child] : children->second) chain.push_back(child);
    } else if (c->kind != Kind::Panel) {
      chain.push_back(c);
    }
  }
  return chain;
}

int ListHeight(int outerHeight) {
  // Every top-aligned panel of the window stands above the list.
  int panels = 0;
  for (const Control& c : kControls)
    if (c.kind == Kind::Panel && c.parent.empty() && c.align == Align::Top) panels += c.rect.height;
  return outerHeight - panels - kListSlack;
}

std::vector<int> ColumnWidths(int clientWidth, int count) {
  if (count <= 0) return {};
  const int w = std::max(clientWidth, 0);
  std::vector<int> widths(static_cast<std::size_t>(count), w / count);
  widths[0] += w % count;
  return widths;
}

}  // namespace tessaly::layout
