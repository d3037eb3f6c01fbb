// The application object: no exception may cross Qt's event loop (Qt's own frames are built
// without exception support), so every event is dispatched inside a guard that hands the failure
// to the top-level failure display and lets the loop go on.
#pragma once

#include <QApplication>
#include <functional>

namespace tessaly {

class TessalyApplication : public QApplication {
  Q_OBJECT

 public:
  TessalyApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  // Called inside the catch block (the window's logic's ShowCurrentFailure).
  void SetFailureDisplay(std::function<void()> display) { display_ = std::move(display); }

 private:
  std::function<void()> display_;
};

}  // namespace tessaly
