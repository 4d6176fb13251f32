// Windows BMP writing at 24, 8 and 4 bits (Qt's writer has no 4-bit mode).
// Reading goes through Qt (qt_codec.cpp).
#include <QtEndian>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

namespace {

void Put16(QByteArray& b, qsizetype at, uint16_t v) {
    qToLittleEndian(v, b.data() + at);
}
void Put32(QByteArray& b, qsizetype at, uint32_t v) {
    qToLittleEndian(v, b.data() + at);
}

}  // namespace

Status EncodeBmp(const QImage& image, int depth, QByteArray* out) {
    const int w = image.width(), h = image.height();
    const bool indexed = depth <= 8;
    if (indexed && image.format() != QImage::Format_Indexed8) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("palette picture expected"));
    }
    const int bits = indexed ? (depth <= 4 ? 4 : 8) : 24;
    const QList<QRgb> palette = indexed ? FlattenedPalette(image.colorTable()) : QList<QRgb>();
    const int entries = indexed ? (1 << bits) : 0;
    if (indexed && palette.size() > entries) {
        return Status::Error(ErrorCode::BadArgument,
                             QStringLiteral("too many colours for %1 bits").arg(bits));
    }
    const qint64 stride = ((static_cast<qint64>(w) * bits + 31) / 32) * 4;
    const qint64 offset = 14 + 40 + 4 * entries;
    const qint64 total = offset + stride * h;
    if (total > INT32_MAX) return Status::Error(ErrorCode::TooLarge);
    QByteArray b(static_cast<qsizetype>(total), '\0');
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(total));
    Put32(b, 10, static_cast<uint32_t>(offset));
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(w));
    Put32(b, 22, static_cast<uint32_t>(h));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<uint16_t>(bits));
    Put32(b, 34, static_cast<uint32_t>(stride * h));
    Put32(b, 38, 2835);  // 72 dpi
    Put32(b, 42, 2835);
    Put32(b, 46, static_cast<uint32_t>(entries));
    for (int i = 0; i < palette.size(); ++i) {
        const qsizetype at = 54 + 4 * i;
        b[at] = static_cast<char>(qBlue(palette[i]));
        b[at + 1] = static_cast<char>(qGreen(palette[i]));
        b[at + 2] = static_cast<char>(qRed(palette[i]));
    }
    const QImage rgb = indexed ? QImage() : FlattenedRgb(image);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(b.data() + offset + stride * (h - 1 - y));
        if (bits == 24) {
            const QRgb* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                row[3 * x] = static_cast<uint8_t>(qBlue(s[x]));
                row[3 * x + 1] = static_cast<uint8_t>(qGreen(s[x]));
                row[3 * x + 2] = static_cast<uint8_t>(qRed(s[x]));
            }
        } else if (bits == 8) {
            memcpy(row, image.constScanLine(y), static_cast<size_t>(w));
        } else {
            const uint8_t* s = image.constScanLine(y);
            for (int x = 0; x < w; ++x) {
                row[x / 2] |= static_cast<uint8_t>((s[x] & 0x0F) << ((x & 1) ? 0 : 4));
            }
        }
    }
    *out = std::move(b);
    return Status::Ok();
}

namespace {

using namespace header;

Status BmpHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 26) return Truncated("BMP");
    const uint32_t dibSize = Le32(d, 14);
    int bits = 0;
    int64_t w = 0, h = 0;
    if (dibSize == 12) {
        w = Le16(d, 18);
        h = Le16(d, 20);
        bits = Le16(d, 24);
    } else {
        if (dibSize < 40 || d.size() < 34) return Truncated("BMP");
        w = static_cast<int32_t>(Le32(d, 18));
        h = static_cast<int32_t>(Le32(d, 22));
        bits = Le16(d, 28);
        if (h < 0) h = -h;
    }
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return Nonsense("BMP");
    switch (bits) {
        case 1:
        case 4:
        case 8:
            info->depth = bits;
            break;
        case 16:
        case 24:
            info->depth = 24;
            break;
        case 32:
            info->depth = 32;
            break;  // settled on decoding: alpha or not
        default:
            return Nonsense("BMP");
    }
    info->width = static_cast<int>(w);
    info->height = static_cast<int>(h);
    // Uncompressed pixel data must all be there: Qt's reader would
    // otherwise hand back a picture whose missing rows are blank.
    const uint32_t compression = dibSize == 12 ? 0 : Le32(d, 30);
    if (compression == 0 || compression == 3) {
        const int64_t stride = ((w * bits + 31) / 32) * 4;
        info->minimumBytes = static_cast<int64_t>(Le32(d, 10)) + stride * h;
    }
    return Status::Ok();
}

bool Sniff(const QByteArray& d, const QString&) {
    return StartsWith(d, "BM", 2) && d.size() >= 18;
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return BmpHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeWithQt(d, "bmp", h, out);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeBmp(image, o.depth, out);
}

}  // namespace

const FormatInfo kBmpFormat = {
    .id = FormatId::Bmp,
    .name = "bmp",
    .title = "BMP",
    .endings = ".bmp",
    .code = 3,
    .writeDepths = kWrites24 | kWrites8 | kWrites4,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    // Qt decodes into a layout of its own and we convert it to ours.
    .decodeBytesPerPixel = 8,
    .encodeBytesPerPixel = 3,
};

}  // namespace velda
