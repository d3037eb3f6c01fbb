#include "codec.h"

#include "charset.h"

namespace tessaly {

QString DecodeText(std::string_view bytes, marc::TextEncoding encoding) {
  const std::u16string text = marc::DecodeToUtf16(bytes, encoding);
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::string EncodeText(const QString& text, marc::TextEncoding encoding) {
  return marc::EncodeUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                               static_cast<std::size_t>(text.size())),
                           encoding);
}

}  // namespace tessaly
