// Failures that leave a handler: their text, and the one place that catches them.
#pragma once

#include <QApplication>
#include <QString>

namespace tessaly {

class WindowDialogs;

// A failure's message as the user reads it: the bytes are UTF-8 when they spell it, GBK otherwise
// (messages quote record bytes and paths).
QString DecodeMessage(const char* message);

// The top-level display's text: the message, with "." appended when it is not empty and its last
// character sorts after ".".
QString FailureDisplayText(const QString& message);

// The application object. No exception may cross Qt's event loop: every event is dispatched
// inside a guard that shows the top-level failure display and lets the loop go on.
class TessalyApplication : public QApplication {
  Q_OBJECT

 public:
  TessalyApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  void SetDialogs(WindowDialogs& dialogs) { dialogs_ = &dialogs; }

 private:
  WindowDialogs* dialogs_;
};

}  // namespace tessaly
