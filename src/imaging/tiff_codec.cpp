// TIFF: read through Qt, written through Qt with LZW (and through
// ImageMagick at 16 colours, which Qt writes as 8 bits).
#include <QBuffer>
#include <QImageWriter>
#include <algorithm>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

Status EncodeTiff(const QImage& image, int depth, QByteArray* out) {
    if (depth == 4) return EncodeTiff4WithMagick(image, out);
    QImage toWrite;
    if (depth == 8) {
        toWrite = image;
        toWrite.setColorTable(FlattenedPalette(image.colorTable()));
    } else {
        toWrite = image.format() == QImage::Format_ARGB32 ? image : FlattenedRgb(image);
    }
    QBuffer buffer(out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setCompression(1);  // LZW: lossless and widely read
    if (!writer.write(toWrite)) {
        return Status::Error(ErrorCode::WriteFailed, writer.errorString());
    }
    return Status::Ok();
}

namespace {

using namespace header;

Status TiffHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 8) return Truncated("TIFF");
    const bool le = d[0] == 'I';
    auto u16 = [&](qsizetype at) -> uint32_t { return le ? Le16(d, at) : Be16(d, at); };
    auto u32 = [&](qsizetype at) -> uint32_t { return le ? Le32(d, at) : Be32(d, at); };
    const uint32_t ifd = u32(4);
    if (ifd < 8) return Nonsense("TIFF");
    // Writers often put the directory after the pixels, so a file cut short
    // loses it: that is missing data, not a header cut short.
    const auto cut = [] {
        return Status::Error(ErrorCode::CorruptData,
                             QStringLiteral("the file is cut short: its TIFF directory lies past "
                                            "its end"));
    };
    if (static_cast<qsizetype>(ifd) + 2 > d.size()) return cut();
    const uint32_t count = u16(ifd);
    if (static_cast<qsizetype>(ifd) + 2 + 12 * static_cast<qsizetype>(count) > d.size())
        return cut();
    uint32_t w = 0, h = 0, spp = 1, bps = 1, extra = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype e = ifd + 2 + 12 * static_cast<qsizetype>(i);
        const uint32_t tag = u16(e), type = u16(e + 2), n = u32(e + 4);
        // A value that fits four bytes stands in the entry itself.
        auto value = [&]() -> uint32_t { return type == 3 ? u16(e + 8) : u32(e + 8); };
        switch (tag) {
            case 256:
                w = value();
                break;
            case 257:
                h = value();
                break;
            case 277:
                spp = value();
                break;
            case 338:
                extra = n;
                break;
            case 258:
                if (n * (type == 3 ? 2u : 4u) <= 4) {
                    bps = value();
                } else {
                    const uint32_t at = u32(e + 8);
                    const qsizetype width = type == 3 ? 2 : 4;
                    if (static_cast<qsizetype>(at) + width > d.size()) return Truncated("TIFF");
                    bps = type == 3 ? u16(at) : u32(at);
                }
                break;
            default:
                break;
        }
    }
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || spp == 0) return Nonsense("TIFF");
    info->width = static_cast<int>(w);
    info->height = static_cast<int>(h);
    // Even LZW, the most expanding of TIFF's codings, gives at most 4096
    // bytes for one code.
    info->minimumBytes = static_cast<qint64>(w) * h * spp * std::max<uint32_t>(bps, 1) / 8 / 4096;
    const uint32_t colour = spp > extra ? spp - extra : spp;
    if (colour >= 3) {
        info->depth = extra ? 32 : 24;
    } else {
        info->depth = extra ? 32 : (bps >= 8 ? 8 : PaletteDepth(static_cast<int>(bps)));
    }
    return Status::Ok();
}

bool Sniff(const QByteArray& d, const QString&) {
    return StartsWith(d, "II*\0", 4) || StartsWith(d, "MM\0*", 4);
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return TiffHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeWithQt(d, "tiff", h, out);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeTiff(image, o.depth, out);
}

}  // namespace

const FormatInfo kTiffFormat = {
    .id = FormatId::Tiff,
    .name = "tif",
    .title = "TIFF",
    .endings = ".tif .tiff",
    .code = 1,
    .writeDepths = kWrites24 | kWrites8 | kWrites4,
    .keepsAlpha = true,
    .holdsMetadata = true,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .metadata = ReadMetadata,
    .decodeBytesPerPixel = 8,
    .encodeBytesPerPixel = 4,
};

}  // namespace velda
