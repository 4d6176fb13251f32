// Truevision Targa reading and writing. Our own code rather than a
// library's: the origin bits in the header decide the row order, and most
// Targa files (Photoshop, GIMP, PIL, games) store their rows bottom-up.
#include <QFileInfo>
#include <QtEndian>
#include <cstring>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

namespace {

constexpr int kHeaderSize = 18;

struct TargaLayout {
    int idLength, cmapType, type, cmapFirst, cmapLength, cmapBits;
    int width, height, bits, descriptor;
    bool rle() const { return type >= 9; }
    int baseType() const { return type & 7; }
    int bytesPerPixel() const { return (bits + 7) / 8; }
    qint64 dataOffset() const {
        return kHeaderSize + idLength +
               (cmapType == 1 ? static_cast<qint64>(cmapLength) * ((cmapBits + 7) / 8) : 0);
    }
};

TargaLayout ParseLayout(const QByteArray& d) {
    const auto* p = reinterpret_cast<const uchar*>(d.constData());
    return {p[0],
            p[1],
            p[2],
            qFromLittleEndian<quint16>(p + 3),
            qFromLittleEndian<quint16>(p + 5),
            p[7],
            qFromLittleEndian<quint16>(p + 12),
            qFromLittleEndian<quint16>(p + 14),
            p[16],
            p[17]};
}

// A 15- or 16-bit pixel, five bits a channel (x1R5G5B5).
QRgb From555(uint16_t v) {
    auto expand = [](int c) { return (c << 3) | (c >> 2); };
    return qRgb(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
}

QRgb ReadColour(const uchar* p, int bytes, bool alpha) {
    switch (bytes) {
        case 2:
            return From555(qFromLittleEndian<quint16>(p));
        case 3:
            return qRgb(p[2], p[1], p[0]);
        default:
            return qRgba(p[2], p[1], p[0], alpha ? p[3] : 255);
    }
}

Status Corrupt(const char* what) {
    return Status::Error(ErrorCode::CorruptData, QString::fromLatin1(what));
}

}  // namespace

qint64 TargaMinimumBytes(const QByteArray& header) {
    if (header.size() < kHeaderSize) return kHeaderSize;
    const TargaLayout t = ParseLayout(header);
    const qint64 pixels = static_cast<qint64>(t.width) * t.height;
    const int bpp = std::max(1, t.bytesPerPixel());
    // A run-length packet is one byte and one pixel for at most 128 pixels.
    const qint64 pixelBytes = t.rle() ? (pixels + 127) / 128 * (1 + bpp) : pixels * bpp;
    return t.dataOffset() + pixelBytes;
}

Status DecodeTarga(const QByteArray& data, const HeaderInfo& header, Picture* out) {
    if (data.size() < kHeaderSize) return Corrupt("Targa header is cut short");
    const TargaLayout t = ParseLayout(data);
    const int base = t.baseType();
    const int bpp = t.bytesPerPixel();
    const bool mapped = base == 1;
    if (mapped && (t.cmapType != 1 || (t.bits != 8 && t.bits != 16))) {
        return Corrupt("Targa colour map is not valid");
    }
    if (base == 3 && t.bits != 8) {
        return Status::Error(ErrorCode::UnsupportedFormat,
                             QStringLiteral("%1-bit grey Targa").arg(t.bits));
    }
    if (base == 2 && t.bits != 15 && t.bits != 16 && t.bits != 24 && t.bits != 32) {
        return Corrupt("Targa pixel size is not valid");
    }
    const qint64 start = t.dataOffset();
    if (start > data.size()) return Corrupt("Targa header is cut short");
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());

    QList<QRgb> palette;
    if (t.cmapType == 1) {
        const int entryBytes = (t.cmapBits + 7) / 8;
        if (entryBytes < 2 || entryBytes > 4) return Corrupt("Targa colour map is not valid");
        const uchar* c = bytes + kHeaderSize + t.idLength;
        const int first = mapped ? t.cmapFirst : 0;
        palette.fill(qRgb(0, 0, 0), first + t.cmapLength);
        for (int i = 0; i < t.cmapLength; ++i)
            palette[first + i] = ReadColour(c + i * entryBytes, entryBytes, t.cmapBits == 32);
    }

    // The pixels in file order, one value (index or colour) each.
    const int w = t.width, h = t.height;
    const qint64 count = static_cast<qint64>(w) * h;
    const bool alpha = base == 2 && t.bits == 32 && (t.descriptor & 0x0F) != 0;
    const bool indexed = (mapped && palette.size() <= 256 && t.bits == 8) || base == 3;
    QImage image(
        w, h,
        indexed ? QImage::Format_Indexed8 : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32));
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    const bool bottomUp = (t.descriptor & 0x20) == 0;
    const bool rightToLeft = (t.descriptor & 0x10) != 0;
    auto put = [&](qint64 i, const uchar* px) {
        const int row = static_cast<int>(i / w), col = static_cast<int>(i % w);
        const int y = bottomUp ? h - 1 - row : row;
        const int x = rightToLeft ? w - 1 - col : col;
        if (indexed) {
            image.scanLine(y)[x] = px[0];
            return;
        }
        QRgb c;
        if (mapped) {
            const int index = bpp == 2 ? qFromLittleEndian<quint16>(px) : px[0];
            c = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
        } else {
            c = ReadColour(px, bpp, alpha);
        }
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = c;
    };

    const uchar* p = bytes + start;
    const uchar* end = bytes + data.size();
    if (!t.rle()) {
        if (end - p < count * bpp) return Corrupt("Targa pixel data is cut short");
        for (qint64 i = 0; i < count; ++i, p += bpp)
            put(i, p);
    } else {
        qint64 i = 0;
        while (i < count) {
            if (p >= end) return Corrupt("Targa pixel data is cut short");
            const int packet = *p++;
            const qint64 n = std::min<qint64>((packet & 0x7F) + 1, count - i);
            if (packet & 0x80) {
                if (end - p < bpp) return Corrupt("Targa pixel data is cut short");
                for (qint64 k = 0; k < n; ++k)
                    put(i++, p);
                p += bpp;
            } else {
                if (end - p < n * bpp) return Corrupt("Targa pixel data is cut short");
                for (qint64 k = 0; k < n; ++k, p += bpp)
                    put(i++, p);
            }
        }
    }

    if (indexed) {
        if (base == 3) {
            image.setColorTable(GreyPalette());
        } else {
            palette.resize(256, qRgb(0, 0, 0));
            image.setColorTable(palette);
        }
    } else if (alpha) {
        // Some writers fill the alpha bytes with zeros while the header
        // still claims an alpha channel; such a picture is opaque.
        bool anyVisible = false;
        for (int y = 0; y < h && !anyVisible; ++y) {
            const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < w; ++x)
                anyVisible |= qAlpha(s[x]) != 0;
        }
        if (!anyVisible) image = image.convertToFormat(QImage::Format_RGB32);
    }
    out->image = std::move(image);
    out->depth = header.depth;
    if (out->image.format() == QImage::Format_RGB32) out->depth = 24;
    if (out->image.format() == QImage::Format_ARGB32) out->depth = 32;
    if (out->image.format() == QImage::Format_Indexed8 && out->depth > 8) out->depth = 8;
    return Status::Ok();
}

Status EncodeTarga(const QImage& image, int depth, QByteArray* out) {
    const int w = image.width(), h = image.height();
    if (w > 0xFFFF || h > 0xFFFF) {
        return Status::Error(ErrorCode::TooLarge,
                             QStringLiteral("Targa holds at most 65535 x 65535 pixels"));
    }
    const bool indexed = depth <= 8;
    if (indexed && image.format() != QImage::Format_Indexed8) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("palette picture expected"));
    }
    // The palette is padded to the full size of its depth, so the header
    // says 8 or 4 bits whatever the colour count.
    const int entries = indexed ? (depth <= 4 ? 16 : 256) : 0;
    const QList<QRgb> palette = indexed ? FlattenedPalette(image.colorTable()) : QList<QRgb>();
    if (palette.size() > entries) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("too many colours"));
    }
    const bool alpha = !indexed && image.format() == QImage::Format_ARGB32;
    const int bpp = indexed ? 1 : (alpha ? 4 : 3);
    const qint64 size = kHeaderSize + entries * 3 + static_cast<qint64>(w) * h * bpp + 26;
    QByteArray b(static_cast<qsizetype>(size), '\0');
    auto* p = reinterpret_cast<uchar*>(b.data());
    p[1] = indexed ? 1 : 0;
    p[2] = indexed ? 1 : 2;
    qToLittleEndian<quint16>(static_cast<quint16>(entries), p + 5);
    p[7] = indexed ? 24 : 0;
    qToLittleEndian<quint16>(static_cast<quint16>(w), p + 12);
    qToLittleEndian<quint16>(static_cast<quint16>(h), p + 14);
    p[16] = static_cast<uchar>(bpp * 8);
    // Origin at the bottom left, rows stored bottom-up: the layout every
    // reader understands, and the header says so.
    p[17] = alpha ? 8 : 0;
    uchar* q = p + kHeaderSize;
    for (int i = 0; i < entries; ++i, q += 3) {
        const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
        q[0] = static_cast<uchar>(qBlue(c));
        q[1] = static_cast<uchar>(qGreen(c));
        q[2] = static_cast<uchar>(qRed(c));
    }
    const QImage rgb = indexed || alpha ? image : FlattenedRgb(image);
    if (rgb.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    for (int y = h - 1; y >= 0; --y) {
        if (indexed) {
            memcpy(q, rgb.constScanLine(y), static_cast<size_t>(w));
            q += w;
            continue;
        }
        const QRgb* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < w; ++x, q += bpp) {
            q[0] = static_cast<uchar>(qBlue(s[x]));
            q[1] = static_cast<uchar>(qGreen(s[x]));
            q[2] = static_cast<uchar>(qRed(s[x]));
            if (alpha) q[3] = static_cast<uchar>(qAlpha(s[x]));
        }
    }
    // Version 2 footer: no extension or developer area.
    memcpy(q + 8, "TRUEVISION-XFILE.", 18);
    *out = std::move(b);
    return Status::Ok();
}

namespace {

using namespace header;

bool LooksLikeTarga(const QByteArray& d) {
    if (d.size() < 18) return false;
    const int cmapType = static_cast<uint8_t>(d[1]);
    const int type = static_cast<uint8_t>(d[2]);
    const int bpp = static_cast<uint8_t>(d[16]);
    const bool typeOk =
        type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    return cmapType <= 1 && typeOk &&
           (bpp == 8 || bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32);
}

Status TargaHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 18) return Truncated("Targa");
    if (!LooksLikeTarga(d)) return Nonsense("Targa");
    const int type = static_cast<uint8_t>(d[2]) & 7;
    const int cmapLength = Le16(d, 5);
    const int bpp = static_cast<uint8_t>(d[16]);
    info->width = Le16(d, 12);
    info->height = Le16(d, 14);
    if (info->width == 0 || info->height == 0) return Nonsense("Targa");
    info->minimumBytes = TargaMinimumBytes(d);
    if (type == 1) {
        info->depth = cmapLength <= 2 ? 1 : (cmapLength <= 16 ? 4 : 8);
    } else if (type == 3) {
        info->depth = 8;
    } else {
        info->depth = (bpp == 32 && (static_cast<uint8_t>(d[17]) & 0x0F)) ? 32 : 24;
    }
    return Status::Ok();
}

bool Sniff(const QByteArray& d, const QString& name) {
    // No signature of its own: the name's ending, or the footer of the
    // second version of the format, and a header that makes sense.
    static const QStringList endings = {QStringLiteral("tga"), QStringLiteral("vda"),
                                        QStringLiteral("icb"), QStringLiteral("vst")};
    const bool footer = d.size() >= 26 && d.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18));
    return (footer || endings.contains(QFileInfo(name).suffix().toLower())) && LooksLikeTarga(d);
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return TargaHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeTarga(d, h, out);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeTarga(image, o.depth, out);
}

}  // namespace

const FormatInfo kTargaFormat = {
    .id = FormatId::Targa,
    .name = "tga",
    .title = "Targa",
    .endings = ".tga",
    .code = 2,
    .writeDepths = kWrites24 | kWrites8 | kWrites4,
    .signature = Signature::ByName,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .decodeBytesPerPixel = 4,
    .encodeBytesPerPixel = 3,
};

}  // namespace velda
