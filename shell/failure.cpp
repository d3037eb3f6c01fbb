#include "failure.h"

#include <cstring>
#include <exception>
#include <string_view>

#include "codec.h"
#include "dialogs.h"
#include "reader.h"

namespace tessaly {

QString DecodeMessage(const char* message) {
  const std::string_view bytes(message, std::strlen(message));
  return DecodeText(bytes, marc::DetectEncoding(bytes));
}

QString FailureDisplayText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void ShowFailureMessage(const QString& message) {
  auto* app = qobject_cast<TessalyApplication*>(QCoreApplication::instance());
  WindowDialogs& dialogs = app ? app->Dialogs() : DefaultDialogs();
  dialogs.ShowFailure(FailureDisplayText(message));
}

void ShowCurrentFailure() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowFailureMessage(DecodeMessage(e.what()));
  } catch (...) {
    ShowFailureMessage(QStringLiteral("未知错误"));
  }
}

TessalyApplication::TessalyApplication(int& argc, char** argv)
    : QApplication(argc, argv), dialogs_(&DefaultDialogs()) {}

bool TessalyApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentFailure();
  }
  return true;
}

}  // namespace tessaly
