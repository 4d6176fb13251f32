// WebP writer through libwebp: lossy at a quality, or lossless; alpha kept
// where the picture has any.
#include <webp/encode.h>

#include <algorithm>

#include "imaging/codec.h"

namespace velda {

Status EncodeWebp(const QImage& source, int quality, bool lossless, QByteArray* out) {
    if (source.width() > WEBP_MAX_DIMENSION || source.height() > WEBP_MAX_DIMENSION) {
        return Status::Error(
            ErrorCode::WriteFailed,
            QStringLiteral("WebP holds at most %1 pixels a side").arg(WEBP_MAX_DIMENSION));
    }
    // In memory, RGB32 and ARGB32 are B, G, R, A bytes on this machine's
    // order: what WebP calls BGRA.
    const QImage image = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                         : QImage::Format_RGB32);
    const uint8_t* bgra = image.constBits();
    uint8_t* data = nullptr;
    const int stride = static_cast<int>(image.bytesPerLine());
    const size_t size =
        lossless ? WebPEncodeLosslessBGRA(bgra, image.width(), image.height(), stride, &data)
                 : WebPEncodeBGRA(bgra, image.width(), image.height(), stride,
                                  static_cast<float>(std::clamp(quality, 0, 100)), &data);
    if (size == 0) {
        WebPFree(data);
        return Status::Error(ErrorCode::WriteFailed, QStringLiteral("WebP encoder"));
    }
    *out = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    WebPFree(data);
    return Status::Ok();
}

}  // namespace velda
