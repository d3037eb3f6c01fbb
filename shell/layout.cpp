#include "layout.h"

#include <stdexcept>
#include <string>

#include "usertexts.h"

namespace tessaly::layout {

namespace {

using namespace std::string_view_literals;

constexpr int kFont = 13;
constexpr int kEditFont = 19;

// Panel2 has no children; Edit1 is the window's, drawn over Panel2's band. The keyboard order
// within Panel1 is Button1, Button4, Button3, Button5; Button2 is never reached.
constexpr Control kControls[] = {
    {"MarcFun", Kind::Window, "", {0, 0, 719, 458}, Align::None, texts::kWindowCaption, -1, true, true, kFont},
    {"Panel1", Kind::Panel, "", {0, 0, 719, 73}, Align::Top, "", 1, true, true, kFont},
    {"Panel2", Kind::Panel, "", {0, 73, 719, 48}, Align::Top, "", 3, true, true, kFont},
    {"ListView1", Kind::ListView, "", {0, 121, 719, 265}, Align::Top, "", 2, true, true, kFont},
    {"Memo1", Kind::Memo, "", {0, 386, 719, 48}, Align::Top, texts::kMemo1, 0, false, true, kFont},
    {"Edit1", Kind::Edit, "", {16, 80, 681, 27}, Align::None, texts::kEdit1Banner, 4, true, true, kEditFont},
    {"Button1", Kind::Button, "Panel1", {16, 16, 105, 25}, Align::None, texts::kButton1, 0, true, true, kFont},
    {"Button5", Kind::Button, "Panel1", {128, 16, 89, 25}, Align::None, texts::kButton5, 4, true, true, kFont},
    {"Button3", Kind::Button, "Panel1", {224, 16, 89, 25}, Align::None, texts::kButton3, 3, true, true, kFont},
    {"Button4", Kind::Button, "Panel1", {320, 16, 75, 25}, Align::None, texts::kButton4, 2, true, true, kFont},
    {"Button2", Kind::Button, "Panel1", {400, 16, 105, 25}, Align::None, texts::kButton2, 1, false, false, kFont},
    {"Label1", Kind::Label, "Panel1", {520, 24, 42, 13}, Align::None, "Label1", -1, true, true, kFont},
    {"Label2", Kind::Label, "Panel1", {520, 40, 42, 13}, Align::None, "Label2", -1, true, true, kFont},
};

}  // namespace

std::span<const Control> MainWindow() { return kControls; }

const Control& Find(std::string_view name) {
  for (const Control& c : kControls) {
    if (c.name == name) return c;
  }
  throw std::out_of_range("no control " + std::string(name));
}

}  // namespace tessaly::layout
