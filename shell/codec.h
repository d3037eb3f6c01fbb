// Conversions between the decoder's byte strings and Qt's UTF-16 strings.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "text.h"

namespace tessaly {

// Decodes one cell on its own (no state carried from a neighbour); invalid bytes become U+FFFD.
QString DecodeText(std::string_view bytes, marc::TextEncoding encoding = marc::TextEncoding::Gbk);
// Encodes text back into the file's encoding (an edited caption, for instance).
std::string EncodeText(const QString& text, marc::TextEncoding encoding = marc::TextEncoding::Gbk);

}  // namespace tessaly
