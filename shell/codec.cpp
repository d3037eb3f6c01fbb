#include "codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tessaly {

namespace {

// GBK through the platform's converter (ICU on Linux, code page 936 on Windows).
constexpr const char* kGbkName = "GBK";

// Whether the last byte is a lead byte without its second byte (a cell cut inside a character).
bool EndsInLeadByte(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x81 && b <= 0xFE) {
      if (i + 1 == bytes.size()) return true;
      i += 2;
    } else {
      ++i;
    }
  }
  return false;
}

}  // namespace

QString DecodeText(std::string_view bytes, marc::TextEncoding encoding) {
  const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (encoding == marc::TextEncoding::Utf8) return QString::fromUtf8(view);
  bool ascii = true;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return QString::fromLatin1(view);
  QStringDecoder decoder(kGbkName, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(view);
  // The stateless converter drops such a byte silently; show it like any other invalid byte.
  if (EndsInLeadByte(bytes)) text += QChar(QChar::ReplacementCharacter);
  return text;
}

std::string EncodeText(const QString& text, marc::TextEncoding encoding) {
  if (encoding == marc::TextEncoding::Utf8) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  }
  QStringEncoder encoder(kGbkName, QStringEncoder::Flag::Stateless);
  const QByteArray gbk = encoder.encode(text);
  return std::string(gbk.constData(), static_cast<std::size_t>(gbk.size()));
}

}  // namespace tessaly
