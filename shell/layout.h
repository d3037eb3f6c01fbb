// The main window's layout as data, for every skin: the controls, their parents, places as laid
// out for a client width of 719, captions, visibility, tab order and fonts. A skin builds its
// widgets from it; FormResize and the top alignment move them afterwards.
#pragma once

#include <span>
#include <string_view>

namespace tessaly::layout {

enum class Kind { Window, Panel, Button, Label, Edit, Memo, ListView };
// Top-aligned controls stack from the top of their parent in table order and take its full
// client width; a hidden one takes no room.
enum class Align { None, Top };

struct Rect {
  int left, top, width, height;
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
};

// The window first, then its controls, parents before their children, top-aligned ones in
// stacking order.
std::span<const Control> MainWindow();
// The control of that name; throws std::out_of_range when there is none.
const Control& Find(std::string_view name);

// The restored outer place of the window (frame and title bar included).
inline constexpr Rect kRestoredBounds{275, 136, 735, 497};
// The window's font face, and the faces to try where it is missing.
inline constexpr std::string_view kFontFace = "宋体";
// FormResize: ListView1 is this much shorter than the window's outer height besides the panels.
inline constexpr int kListSlack = 50;

}  // namespace tessaly::layout
