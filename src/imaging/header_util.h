#pragma once

// What the header parsers of the codecs share: numbers read byte by byte
// at an offset (the caller has checked the size), the palette depth a bit
// count stands for, and the two ways a header is refused.
#include <QByteArray>
#include <cstdint>
#include <cstring>

#include "imaging/status.h"

namespace velda::header {

inline uint8_t Byte(const QByteArray& d, qsizetype at) {
    return static_cast<uint8_t>(d[at]);
}
inline uint16_t Le16(const QByteArray& d, qsizetype at) {
    return static_cast<uint16_t>(Byte(d, at) | (Byte(d, at + 1) << 8));
}
inline uint32_t Le32(const QByteArray& d, qsizetype at) {
    return static_cast<uint32_t>(Le16(d, at)) | (static_cast<uint32_t>(Le16(d, at + 2)) << 16);
}
inline uint16_t Be16(const QByteArray& d, qsizetype at) {
    return static_cast<uint16_t>((Byte(d, at) << 8) | Byte(d, at + 1));
}
inline uint32_t Be32(const QByteArray& d, qsizetype at) {
    return (static_cast<uint32_t>(Be16(d, at)) << 16) | Be16(d, at + 2);
}

inline bool StartsWith(const QByteArray& d, const char* signature, qsizetype n) {
    return d.size() >= n && memcmp(d.constData(), signature, static_cast<size_t>(n)) == 0;
}

inline int PaletteDepth(int bits) {
    if (bits <= 1) return 1;
    if (bits <= 4) return 4;
    return 8;
}

inline Status Truncated(const char* what) {
    return Status::Error(ErrorCode::CorruptData,
                         QStringLiteral("%1 header is cut short").arg(QLatin1String(what)));
}

inline Status Nonsense(const char* what) {
    return Status::Error(ErrorCode::CorruptData,
                         QStringLiteral("%1 header is not valid").arg(QLatin1String(what)));
}

}  // namespace velda::header
