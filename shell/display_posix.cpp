// X11 and Wayland: a display is named by the environment.
#include <cstdlib>
#include <string_view>

#include "display.h"

namespace tessaly {

namespace {
bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}
}  // namespace

bool DisplayAvailable(std::string& why) {
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  const std::string_view platform = chosen ? chosen : "";
  // An explicit platform other than X11 or Wayland (offscreen, vnc, ...) brings its own display.
  const bool x11 = platform.empty() || platform.starts_with("xcb");
  const bool wayland = platform.empty() || platform.starts_with("wayland");
  if (!x11 && !wayland) return true;
  if ((x11 && Set("DISPLAY")) || (wayland && Set("WAYLAND_DISPLAY"))) return true;
  why = platform.empty() ? "no display: neither DISPLAY nor WAYLAND_DISPLAY is set"
                         : "no display for QT_QPA_PLATFORM=" + std::string(platform);
  return false;
}

}  // namespace tessaly
