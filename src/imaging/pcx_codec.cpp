// ZSoft PCX writing: 24 bits as three 8-bit planes, 8 bits with the
// 256-colour palette after the data, 4 bits as the classic 16-colour file
// (four 1-bit planes, palette in the header). Reading goes through
// ImageMagick (magick_codec.cpp).
#include <QtEndian>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

namespace {

void Put16(QByteArray& b, qsizetype at, uint16_t v) {
    qToLittleEndian(v, b.data() + at);
}

// Run-length encodes one plane of one scan line.
void EncodeRun(const uint8_t* data, int count, QByteArray& out) {
    int i = 0;
    while (i < count) {
        const uint8_t v = data[i];
        int run = 1;
        while (i + run < count && run < 63 && data[i + run] == v)
            ++run;
        if (run > 1 || v >= 0xC0) out.append(static_cast<char>(0xC0 | run));
        out.append(static_cast<char>(v));
        i += run;
    }
}

}  // namespace

Status EncodePcx(const QImage& image, int depth, QByteArray* out) {
    const int w = image.width(), h = image.height();
    if (w > 65535 || h > 65535)
        return Status::Error(ErrorCode::TooLarge,
                             QStringLiteral("PCX holds at most 65535 pixels a side"));
    const bool indexed = depth <= 8;
    if (indexed && image.format() != QImage::Format_Indexed8) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("palette picture expected"));
    }
    const bool four = indexed && depth <= 4;
    const QList<QRgb> palette = indexed ? FlattenedPalette(image.colorTable()) : QList<QRgb>();
    if (four && palette.size() > 16) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("too many colours for 4 bits"));
    }
    const int bitsPerPixel = four ? 1 : 8;
    const int planes = four ? 4 : (indexed ? 1 : 3);
    int bytesPerLine = (w * bitsPerPixel + 7) / 8;
    bytesPerLine += bytesPerLine & 1;  // must be even

    QByteArray b(128, '\0');
    b[0] = 0x0A;
    b[1] = 5;
    b[2] = 1;
    b[3] = static_cast<char>(bitsPerPixel);
    Put16(b, 8, static_cast<uint16_t>(w - 1));
    Put16(b, 10, static_cast<uint16_t>(h - 1));
    Put16(b, 12, 72);
    Put16(b, 14, 72);
    if (four) {
        for (int i = 0; i < palette.size(); ++i) {
            b[16 + 3 * i] = static_cast<char>(qRed(palette[i]));
            b[17 + 3 * i] = static_cast<char>(qGreen(palette[i]));
            b[18 + 3 * i] = static_cast<char>(qBlue(palette[i]));
        }
    }
    b[65] = static_cast<char>(planes);
    Put16(b, 66, static_cast<uint16_t>(bytesPerLine));
    Put16(b, 68, 1);
    b.reserve(128 + static_cast<qsizetype>(h) * bytesPerLine * planes);

    const QImage rgb = indexed ? QImage() : FlattenedRgb(image);
    std::vector<uint8_t> line(static_cast<size_t>(bytesPerLine));
    for (int y = 0; y < h; ++y) {
        for (int p = 0; p < planes; ++p) {
            std::fill(line.begin(), line.end(), 0);
            if (four) {
                const uint8_t* s = image.constScanLine(y);
                for (int x = 0; x < w; ++x) {
                    if ((s[x] >> p) & 1) line[x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
                }
            } else if (indexed) {
                memcpy(line.data(), image.constScanLine(y), static_cast<size_t>(w));
            } else {
                const QRgb* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
                for (int x = 0; x < w; ++x) {
                    line[x] = static_cast<uint8_t>(p == 0   ? qRed(s[x])
                                                   : p == 1 ? qGreen(s[x])
                                                            : qBlue(s[x]));
                }
            }
            EncodeRun(line.data(), bytesPerLine, b);
        }
    }
    if (indexed && !four) {
        b.append(static_cast<char>(0x0C));
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
            b.append(static_cast<char>(qRed(c)));
            b.append(static_cast<char>(qGreen(c)));
            b.append(static_cast<char>(qBlue(c)));
        }
    }
    *out = std::move(b);
    return Status::Ok();
}

namespace {

using namespace header;

Status PcxHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 128) return Truncated("PCX");
    const int bits = static_cast<uint8_t>(d[3]);
    const int planes = static_cast<uint8_t>(d[65]);
    const int xmin = Le16(d, 4), ymin = Le16(d, 6), xmax = Le16(d, 8), ymax = Le16(d, 10);
    if (xmax < xmin || ymax < ymin || planes == 0) return Nonsense("PCX");
    info->width = xmax - xmin + 1;
    info->height = ymax - ymin + 1;
    const int total = bits * planes;
    // A run-length byte pair holds at most 63 bytes of a line.
    info->minimumBytes = 128 + static_cast<qint64>(Le16(d, 66)) * planes * info->height / 32;
    if (total >= 24) {
        info->depth = planes >= 4 ? 32 : 24;
    } else {
        info->depth = PaletteDepth(total);
    }
    return Status::Ok();
}

bool Sniff(const QByteArray& d, const QString&) {
    if (d.size() < 4 || static_cast<uint8_t>(d[0]) != 0x0A || static_cast<uint8_t>(d[1]) > 5 ||
        static_cast<uint8_t>(d[2]) > 1)
        return false;
    const int bits = static_cast<uint8_t>(d[3]);
    return bits == 1 || bits == 2 || bits == 4 || bits == 8;
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return PcxHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeWithMagick(d, h, {.coder = "PCX", .sizeFromHeader = true}, out);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodePcx(image, o.depth, out);
}

}  // namespace

const FormatInfo kPcxFormat = {
    .id = FormatId::Pcx,
    .name = "pcx",
    .title = "PCX",
    .endings = ".pcx",
    .code = 6,
    .writeDepths = kWrites24 | kWrites8 | kWrites4,
    .signature = Signature::Weak,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    // ImageMagick's reader holds the whole file's planes beside its 16-bit
    // pixel cache.
    .decodeBytesPerPixel = 28,
    .encodeBytesPerPixel = 3,
};

}  // namespace velda
