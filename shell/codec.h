// Qt's strings over the core's text conversion (charset.h), which every path shares.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "text.h"

namespace tessaly {

// Decodes one cell on its own (no state carried from a neighbour); each malformed byte sequence
// becomes one U+FFFD.
QString DecodeText(std::string_view bytes, marc::TextEncoding encoding = marc::TextEncoding::Gbk);
// Encodes text back into the file's encoding (an edited caption, for instance): GB18030 for a
// GBK file, so that no character is lost.
std::string EncodeText(const QString& text, marc::TextEncoding encoding = marc::TextEncoding::Gbk);

}  // namespace tessaly
