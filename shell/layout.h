// The main window's layout as data, and its one interpreter: the controls, their parents, places
// as laid out for a client width of 719, captions, visibility, tab order, fonts and what each
// control is for. The form's control names stay as data, so that each control can be found; a
// skin builds its widgets from the table with a switch on the kind and asks here where they go.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "ports.h"

namespace tessaly::layout {

enum class Kind { Window, Panel, Button, Label, Edit, ListView };
// Top-aligned controls stack from the top of their parent in table order and take its full
// client width; a hidden one takes no room.
enum class Align { None, Top };
// What a button runs when clicked (Presenter::Run).
enum class Command { None, Open, Export, Clear, Quit };

struct Rect {
  int left, top, width, height;
  bool operator==(const Rect&) const = default;
};

struct Control {
  std::string_view name;
  Kind kind;
  std::string_view parent;  // empty: the window itself
  Rect rect;
  Align align;
  std::string_view caption;  // the text shown; for the window its title
  int tabOrder;              // within the parent; -1: takes no focus
  bool visible;
  bool enabled;
  int fontPixels;  // character height of the control's font
  Command command = Command::None;
  std::optional<LabelId> shows;  // the label the presenter sets
};

// The window first, then its controls, parents before their children, top-aligned ones in
// stacking order.
std::span<const Control> MainWindow();
// The control of that name, the first of that kind, the button of that command, the label of
// that text; throws std::out_of_range when there is none.
const Control& Find(std::string_view name);
const Control& Find(Kind kind);
const Control& Find(Command command);
const Control& Find(LabelId label);

// Where a control goes as the window now stands, in the window's client area and in its
// parent's, in pixels of the given screen density (96: the table's own).
struct Place {
  const Control* control;
  Rect inWindow;
  Rect inParent;
  bool shown;  // false: hidden by the table, or the list at no height
};
// Every control of table but the window, in table order, for a client width in screen pixels and
// the list's height in the table's pixels (zero or less: the list is not shown). A label's size
// is the table's; a skin fits it to its text.
std::vector<Place> Places(int clientWidth, int listHeight, int dpi = 96,
                          std::span<const Control> table = MainWindow());

// The keyboard's order through the controls that take the focus and are shown: the window's
// controls by their order, a panel's children, by theirs, in the panel's place.
std::vector<const Control*> TabChain(std::span<const Control> table = MainWindow());

// The list's height for the window's outer height (frame and title bar included): what the
// panels above it and a margin leave.
int ListHeight(int outerHeight);

// Widths of count columns sharing a client width: width div count each, the remainder added to
// the first column.
std::vector<int> ColumnWidths(int clientWidth, int count);

// The restored outer place of the window (frame and title bar included).
inline constexpr Rect kRestoredBounds{275, 136, 735, 497};
// The window's font face, and the faces to try where it is missing.
inline constexpr std::string_view kFontFace = "宋体";

}  // namespace tessaly::layout
