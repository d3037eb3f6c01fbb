// Failures that leave a handler: their text, and the one place that catches them.
#pragma once

#include <QApplication>
#include <QString>
#include <utility>

namespace tessaly {

class WindowDialogs;

// A failure's message as the user reads it: the bytes are UTF-8 when they spell it, GBK otherwise
// (messages quote record bytes and paths).
QString DecodeMessage(const char* message);

// The top-level display's text: the message, with "." appended when it is not empty and its last
// character sorts after ".".
QString FailureDisplayText(const QString& message);

// Shows the failure being handled in the top-level failure display. Call it inside a catch block.
void ShowCurrentFailure();
// Shows a failure's message in the top-level failure display.
void ShowFailureMessage(const QString& message);

// A handler that shows its failures in the top-level display instead of throwing them. Command
// handlers are connected through it, so that no exception unwinds through Qt's own frames (which
// are built without exception support and would leak the event they were delivering).
template <class Handler>
auto Guarded(Handler handler) {
  return [handler = std::move(handler)]() {
    try {
      handler();
    } catch (...) {
      ShowCurrentFailure();
    }
  };
}

// The application object. No exception may cross Qt's event loop: every event is dispatched
// inside a guard that shows the top-level failure display and lets the loop go on.
class TessalyApplication : public QApplication {
  Q_OBJECT

 public:
  TessalyApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  void SetDialogs(WindowDialogs& dialogs) { dialogs_ = &dialogs; }
  WindowDialogs& Dialogs() const { return *dialogs_; }

 private:
  WindowDialogs* dialogs_;
};

}  // namespace tessaly
