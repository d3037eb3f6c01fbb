// What the Qt skin's GoogleTest tests share: Qt's strings in readable failure messages.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
