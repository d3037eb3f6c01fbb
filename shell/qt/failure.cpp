#include "failure.h"

namespace tessaly {

TessalyApplication::TessalyApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TessalyApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    if (display_) display_();
  }
  return true;
}

}  // namespace tessaly
