// The layout's one interpreter: where controls go (stacking, hidden controls, parents, the list's
// height, screen density), the keyboard's order and the columns' widths.
#include "layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

using namespace tessaly::layout;

namespace {

// A window of top-aligned panels around a list, one of them hidden, with children; and a control
// placed freely.
// clang-format off
constexpr Control kTable[] = {
    {"W", Kind::Window, "", {0, 0, 300, 200}, Align::None, "", -1, true, true, 13, Command::None, std::nullopt},
    {"Top", Kind::Panel, "", {0, 0, 300, 40}, Align::Top, "", 1, true, true, 13, Command::None, std::nullopt},
    {"Hidden", Kind::Panel, "", {0, 40, 300, 30}, Align::Top, "", 2, false, true, 13, Command::None, std::nullopt},
    {"List", Kind::ListView, "", {0, 70, 300, 100}, Align::Top, "", 0, true, true, 13, Command::None, std::nullopt},
    {"Bottom", Kind::Panel, "", {0, 170, 300, 20}, Align::Top, "", 3, true, true, 13, Command::None, std::nullopt},
    {"Free", Kind::Edit, "", {10, 50, 100, 20}, Align::None, "", 4, true, true, 13, Command::None, std::nullopt},
    {"InTop", Kind::Button, "Top", {5, 6, 50, 20}, Align::None, "", 1, true, true, 13, Command::None, std::nullopt},
    {"InTop2", Kind::Button, "Top", {60, 6, 50, 20}, Align::None, "", 0, true, true, 13, Command::None, std::nullopt},
    {"InBottom", Kind::Button, "Bottom", {5, 2, 50, 16}, Align::None, "", 0, true, true, 13, Command::None, std::nullopt},
    {"InHidden", Kind::Button, "Hidden", {5, 2, 50, 16}, Align::None, "", 0, true, true, 13, Command::None, std::nullopt},
    {"Label", Kind::Label, "Bottom", {70, 4, 40, 13}, Align::None, "", -1, true, true, 13, Command::None, std::nullopt},
};
// clang-format on

TEST(Layout, Places) {
  struct Case {
    int clientWidth, listHeight, dpi;
    const char* name;
    Rect inWindow, inParent;
    bool shown;
  } cases[] = {
      {500, 120, 96, "Top", {0, 0, 500, 40}, {0, 0, 500, 40}, true},
      {500, 120, 96, "Hidden", {0, 40, 500, 30}, {0, 40, 500, 30}, false},
      {500, 120, 96, "InHidden", {5, 42, 50, 16}, {5, 2, 50, 16}, false},
      {500, 120, 96, "List", {0, 40, 500, 120}, {0, 40, 500, 120}, true},
      {500, 120, 96, "Bottom", {0, 160, 500, 20}, {0, 160, 500, 20}, true},
      {500, 120, 96, "InBottom", {5, 162, 50, 16}, {5, 2, 50, 16}, true},
      {500, 120, 96, "Label", {70, 164, 40, 13}, {70, 4, 40, 13}, true},
      {500, 120, 96, "InTop2", {60, 6, 50, 20}, {60, 6, 50, 20}, true},
      {500, 120, 96, "Free", {10, 50, 100, 20}, {10, 50, 100, 20}, true},
      // A list of no height is not shown and takes no room.
      {500, 0, 96, "List", {0, 40, 500, 0}, {0, 40, 500, 0}, false},
      {500, -7, 96, "Bottom", {0, 40, 500, 20}, {0, 40, 500, 20}, true},
      {500, 0, 96, "InBottom", {5, 42, 50, 16}, {5, 2, 50, 16}, true},
      // At 144 dots an inch every length grows by half but the full width stays the client's.
      {750, 120, 144, "Bottom", {0, 240, 750, 30}, {0, 240, 750, 30}, true},
      {750, 120, 144, "InBottom", {8, 243, 75, 24}, {8, 3, 75, 24}, true},
      {750, 120, 144, "Free", {15, 75, 150, 30}, {15, 75, 150, 30}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.clientWidth) + ", list " +
                 std::to_string(c.listHeight) + ", " + std::to_string(c.dpi) + " dpi");
    const std::vector<Place> places = Places(c.clientWidth, c.listHeight, c.dpi, kTable);
    ASSERT_EQ(places.size(), std::size(kTable) - 1) << "every control but the window";
    const auto it =
        std::ranges::find_if(places, [&](const Place& p) { return p.control->name == c.name; });
    ASSERT_NE(it, places.end());
    EXPECT_EQ(it->inWindow, c.inWindow);
    EXPECT_EQ(it->inParent, c.inParent);
    EXPECT_EQ(it->shown, c.shown);
  }
}

TEST(Layout, TabChainAndCommands) {
  const auto names = [](const std::vector<const Control*>& chain) {
    std::vector<std::string_view> out;
    for (const Control* c : chain) out.push_back(c->name);
    return out;
  };
  // A panel's children in its place; hidden controls and their children are not reached.
  EXPECT_EQ(names(TabChain(kTable)),
            (std::vector<std::string_view>{"List", "InTop2", "InTop", "InBottom", "Free"}));
  // The window's own: the commands in their keyboard order, then the list and the banner; each
  // command has its button, each label its control.
  const std::vector<const Control*> chain = TabChain();
  std::vector<Command> commands;
  for (const Control* c : chain)
    if (c->command != Command::None) commands.push_back(c->command);
  EXPECT_EQ(commands, (std::vector{Command::Open, Command::Quit, Command::Clear, Command::Export}));
  EXPECT_EQ(chain.size(), commands.size() + 2);
  for (const tessaly::LabelId label : {tessaly::LabelId::RowCount, tessaly::LabelId::Elapsed})
    EXPECT_EQ(Find(label).kind, Kind::Label);
}

TEST(Layout, ColumnWidthsShareTheWidth) {
  struct Case {
    int width, count;
    int first, other;
  } cases[] = {{719, 13, 59, 55}, {12, 13, 12, 0}, {0, 13, 0, 0}, {-5, 13, 0, 0}, {26, 13, 2, 2}};
  for (const Case& c : cases) {
    const std::vector<int> widths = ColumnWidths(c.width, c.count);
    ASSERT_EQ(widths.size(), static_cast<std::size_t>(c.count));
    EXPECT_EQ(widths.front(), c.first) << c.width;
    EXPECT_TRUE(std::all_of(widths.begin() + 1, widths.end(), [&](int w) { return w == c.other; }));
    EXPECT_EQ(std::accumulate(widths.begin(), widths.end(), 0), std::max(c.width, 0));
  }
  EXPECT_TRUE(ColumnWidths(100, 0).empty());
}

}  // namespace
