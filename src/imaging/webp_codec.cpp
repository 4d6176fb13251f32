// WebP through libwebp: read whole (still pictures; an animation's first
// frame), written lossy at a quality or lossless; alpha kept where the
// picture has any.
#include <webp/decode.h>
#include <webp/encode.h>

#include <QtEndian>
#include <algorithm>

#include "imaging/codec.h"
#include "imaging/format_rows.h"

namespace velda {

Status WebpHeader(const QByteArray& data, HeaderInfo* info) {
    // The RIFF header gives the file's size: one cut short is refused before
    // its picture is allocated.
    if (data.size() < 12)
        return Status::Error(ErrorCode::CorruptData, QStringLiteral("WebP header is cut short"));
    const qint64 riff = qFromLittleEndian<quint32>(data.constData() + 4);
    if (riff + 8 > data.size())
        return Status::Error(ErrorCode::CorruptData,
                             QStringLiteral("WebP data is cut short: %1 bytes of %2")
                                 .arg(data.size())
                                 .arg(riff + 8));
    WebPBitstreamFeatures f;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(data.constData()),
                        static_cast<size_t>(data.size()), &f) != VP8_STATUS_OK ||
        f.width <= 0 || f.height <= 0) {
        return Status::Error(ErrorCode::CorruptData, QStringLiteral("WebP header is not valid"));
    }
    info->width = f.width;
    info->height = f.height;
    info->depth = f.has_alpha ? 32 : 24;
    info->minimumBytes = 26;  // a RIFF header and the smallest frame header
    return Status::Ok();
}

Status DecodeWebp(const QByteArray& data, const HeaderInfo& header, Picture* out) {
    const bool alpha = header.depth == 32;
    QImage image(header.width, header.height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    // RGB32 and ARGB32 are B, G, R, A bytes in memory on this machine:
    // WebP's BGRA, decoded straight into the picture.
    if (!WebPDecodeBGRAInto(reinterpret_cast<const uint8_t*>(data.constData()),
                            static_cast<size_t>(data.size()), image.bits(),
                            static_cast<size_t>(image.sizeInBytes()),
                            static_cast<int>(image.bytesPerLine()))) {
        return Status::Error(ErrorCode::CorruptData, QStringLiteral("WebP data is damaged"));
    }
    out->image =
        alpha && !HasTransparency(image) ? image.convertToFormat(QImage::Format_RGB32) : image;
    out->depth = out->image.format() == QImage::Format_ARGB32 ? 32 : 24;
    return Status::Ok();
}

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

namespace {

bool Sniff(const QByteArray& d, const QString&) {
    return d.size() >= 16 && d.startsWith("RIFF") && d.mid(8, 4) == "WEBP";
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return WebpHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeWebp(d, h, out);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeWebp(image, o.quality, o.lossless, out);
}

}  // namespace

const FormatInfo kWebpFormat = {
    .id = FormatId::Webp,
    .name = "webp",
    .title = "WebP",
    .endings = ".webp",
    .code = 11,
    .writeDepths = kWrites24,
    .takesQuality = true,
    .keepsAlpha = true,
    .holdsMetadata = true,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .metadata = ReadMetadata,
    // Decoded straight into the picture's 32-bit pixels.
    .decodeBytesPerPixel = 4,
    .encodeBytesPerPixel = 3,
    .losslessEncodeBytesPerPixel = 20,
};

}  // namespace velda
