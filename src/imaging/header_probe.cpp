// Reading picture headers before decoding: the kind of a file from its
// signature, and its size and bits per pixel, so that a picture too large
// to hold is refused before anything is allocated.
#include <turbojpeg.h>

#include <QFileInfo>
#include <cstdint>
#include <cstring>

#include "imaging/codec.h"

namespace velda {

namespace {

uint16_t Le16(const QByteArray& d, qsizetype at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) |
                                 (static_cast<uint8_t>(d[at + 1]) << 8));
}
uint32_t Le32(const QByteArray& d, qsizetype at) {
    return static_cast<uint32_t>(Le16(d, at)) | (static_cast<uint32_t>(Le16(d, at + 2)) << 16);
}
uint16_t Be16(const QByteArray& d, qsizetype at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(d[at]) << 8) |
                                 static_cast<uint8_t>(d[at + 1]));
}
uint32_t Be32(const QByteArray& d, qsizetype at) {
    return (static_cast<uint32_t>(Be16(d, at)) << 16) | Be16(d, at + 2);
}

int PaletteDepth(int bits) {
    if (bits <= 1) return 1;
    if (bits <= 4) return 4;
    return 8;
}

Status Truncated(const char* what) {
    return Status::Error(ErrorCode::CorruptData,
                         QStringLiteral("%1 header is cut short").arg(what));
}

Status Nonsense(const char* what) {
    return Status::Error(ErrorCode::CorruptData,
                         QStringLiteral("%1 header is not valid").arg(what));
}

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

// Walks a JPEG's markers: counts its scans and tells whether it is
// arithmetic-coded. Entropy-coded data is skipped with memchr, so this costs
// a small share of a decode.
int JpegScans(const QByteArray& d, bool* arithmetic) {
    const auto* p = reinterpret_cast<const uint8_t*>(d.constData());
    const qsizetype n = d.size();
    int scans = 0;
    qsizetype i = 2;
    while (i + 1 < n) {
        if (p[i] != 0xFF) {
            // Entropy-coded data: the next marker is an 0xFF that is not
            // a stuffed zero, a fill byte or a restart.
            const void* ff = memchr(p + i, 0xFF, static_cast<size_t>(n - i));
            if (!ff) break;
            i = static_cast<const uint8_t*>(ff) - p;
            continue;
        }
        const uint8_t m = p[i + 1];
        if (m == 0x00 || m == 0xFF || (m >= 0xD0 && m <= 0xD7) || m == 0x01) {
            i += m == 0xFF ? 1 : 2;
            continue;
        }
        if (m == 0xD9) break;
        if (i + 3 >= n) break;
        const qsizetype length = Be16(d, i + 2);
        if (m >= 0xC9 && m <= 0xCF && m != 0xCC) *arithmetic = true;
        if (m == 0xDA) ++scans;
        i += 2 + length;
    }
    return scans;
}

Status JpegHeader(const QByteArray& d, HeaderInfo* info) {
    tjhandle tj = tjInitDecompress();
    if (!tj) return Status::Error(ErrorCode::OutOfMemory);
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    const int rc =
        tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(d.constData()),
                            static_cast<unsigned long>(d.size()), &w, &h, &subsamp, &colorspace);
    tjDestroy(tj);
    if (rc != 0) return Nonsense("JPEG");
    // A file cut before its frame header reads as tables only.
    if (w <= 0 || h <= 0) return Truncated("JPEG");
    info->width = w;
    info->height = h;
    info->depth = colorspace == TJCS_GRAY ? 8 : 24;
    // Progressive files of thousands of tiny scans make the decoder redo
    // the whole picture for each; cameras and encoders use a few dozen.
    bool arithmetic = false;
    const int scans = JpegScans(d, &arithmetic);
    info->scans = scans;
    if (scans > kMaxJpegScans) {
        return Status::Error(ErrorCode::CorruptData,
                             QStringLiteral("JPEG has %1 scans, more than the %2 accepted")
                                 .arg(scans)
                                 .arg(kMaxJpegScans));
    }
    // Huffman coding spends at least one bit on each 8 x 8 block.
    if (!arithmetic) {
        info->minimumBytes = ((w + 7) / 8) * static_cast<qint64>((h + 7) / 8) / 8;
    }
    return Status::Ok();
}

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

Status PngHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 33) return Truncated("PNG");
    if (d.mid(12, 4) != "IHDR") return Nonsense("PNG");
    const uint32_t w = Be32(d, 16), h = Be32(d, 20);
    const int bitDepth = static_cast<uint8_t>(d[24]);
    const int colourType = static_cast<uint8_t>(d[25]);
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return Nonsense("PNG");
    info->width = static_cast<int>(w);
    info->height = static_cast<int>(h);
    switch (colourType) {
        case 0:
            info->depth = bitDepth >= 8 ? 8 : PaletteDepth(bitDepth);
            break;
        case 3:
            info->depth = PaletteDepth(bitDepth);
            break;
        case 2:
            info->depth = 24;
            break;
        case 4:
        case 6:
            info->depth = 32;
            break;
        default:
            return Nonsense("PNG");
    }
    // Deflate expands one byte into at most 1032.
    const int channels = colourType == 2 ? 3 : (colourType == 4 ? 2 : (colourType == 6 ? 4 : 1));
    const qint64 rowBytes = (static_cast<qint64>(w) * channels * bitDepth + 7) / 8 + 1;
    info->minimumBytes = rowBytes * h / 1032;
    return Status::Ok();
}

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

Status GifHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 13) return Truncated("GIF");
    const int packed = static_cast<uint8_t>(d[10]);
    info->depth = (packed & 0x80) ? PaletteDepth((packed & 7) + 1) : 8;
    if (Le16(d, 6) == 0 || Le16(d, 8) == 0) return Nonsense("GIF");
    // The picture is the first frame, whose size may be anything whatever
    // the screen says. Its descriptor is found as decoders find it: past
    // the colour table and any extensions, stray bytes skipped.
    qsizetype at = 13 + ((packed & 0x80) ? 3 * (2 << (packed & 7)) : 0);
    while (at < d.size()) {
        const auto c = static_cast<uint8_t>(d[at]);
        if (c == 0x3B) break;  // trailer: no frame at all
        if (c == 0x21) {       // extension: label, then sub-blocks
            at += 2;
            while (at < d.size() && d[at] != 0)
                at += static_cast<uint8_t>(d[at]) + 1;
            ++at;
            continue;
        }
        if (c != 0x2C) {
            ++at;
            continue;
        }
        if (at + 10 > d.size()) break;
        info->width = Le16(d, at + 5);
        info->height = Le16(d, at + 7);
        if (info->width == 0 || info->height == 0) return Nonsense("GIF");
        const int local = static_cast<uint8_t>(d[at + 9]);
        if (local & 0x80) info->depth = PaletteDepth((local & 7) + 1);
        // An LZW code of at most 12 bits stands for at most 4096 pixels,
        // once the first few thousand codes have built strings that long.
        const qint64 pixels = static_cast<qint64>(info->width) * info->height;
        info->minimumBytes = std::max<qint64>(0, pixels - 8'400'000) * 3 / 8192;
        return Status::Ok();
    }
    return Truncated("GIF");
}

}  // namespace

namespace {

struct KindEndings {
    FileKind kind;
    std::initializer_list<const char*> endings;
};

// Every spelling in use for each kind we read.
constexpr KindEndings kEndings[] = {
    {FileKind::Jpeg, {".jpg", ".jpeg", ".jpe", ".jfif"}},
    {FileKind::Tiff, {".tif", ".tiff"}},
    {FileKind::Png, {".png"}},
    {FileKind::Webp, {".webp"}},
    {FileKind::Bmp, {".bmp"}},
    {FileKind::Pcx, {".pcx"}},
    {FileKind::Targa, {".tga"}},
    {FileKind::Gif, {".gif"}},
    {FileKind::PhotoCd, {".pcd"}},
    {FileKind::Fif, {".fif"}},
};

}  // namespace

const QStringList& PictureEndings() {
    static const QStringList all = [] {
        QStringList list;
        for (const KindEndings& k : kEndings)
            for (const char* e : k.endings)
                list.append(QString::fromLatin1(e));
        return list;
    }();
    return all;
}

bool HasPictureEnding(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    // A name that is all ending (".jpg") is a hidden file, not a picture.
    return dot > 0 && PictureEndings().contains(name.mid(dot).toLower());
}

QString PictureEndingPatterns(FileKind kind) {
    QStringList patterns;
    for (const KindEndings& k : kEndings) {
        if (kind != FileKind::Unknown && k.kind != kind) continue;
        for (const char* e : k.endings)
            patterns.append(u'*' + QString::fromLatin1(e));
    }
    return patterns.join(u';');
}

FileKind SniffKind(const QByteArray& d, const QString& fileName) {
    auto starts = [&d](const char* sig, qsizetype n) {
        return d.size() >= n && memcmp(d.constData(), sig, static_cast<size_t>(n)) == 0;
    };
    if (starts("\xFF\xD8\xFF", 3)) return FileKind::Jpeg;
    if (starts("\x89PNG\r\n\x1A\n", 8)) return FileKind::Png;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return FileKind::Gif;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return FileKind::Tiff;
    if (starts("BM", 2) && d.size() >= 18) return FileKind::Bmp;
    if (starts("RIFF", 4) && d.size() >= 16 && memcmp(d.constData() + 8, "WEBP", 4) == 0)
        return FileKind::Webp;
    if (d.size() >= 0x800 + 7 && memcmp(d.constData() + 0x800, "PCD_IPI", 7) == 0) {
        return FileKind::PhotoCd;
    }
    if (d.size() >= 4 && static_cast<uint8_t>(d[0]) == 0x0A && static_cast<uint8_t>(d[1]) <= 5 &&
        static_cast<uint8_t>(d[2]) <= 1) {
        const int bits = static_cast<uint8_t>(d[3]);
        if (bits == 1 || bits == 2 || bits == 4 || bits == 8) return FileKind::Pcx;
    }
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"fif") return FileKind::Fif;
    const bool targaFooter = d.size() >= 26 && d.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18));
    if ((suffix == u"tga" || suffix == u"vda" || suffix == u"icb" || suffix == u"vst" ||
         targaFooter) &&
        LooksLikeTarga(d)) {
        return FileKind::Targa;
    }
    return FileKind::Unknown;
}

Status ReadHeader(FileKind kind, const QByteArray& data, int photoCdResolution, HeaderInfo* info) {
    Status s;
    switch (kind) {
        case FileKind::Jpeg:
            s = JpegHeader(data, info);
            break;
        case FileKind::Bmp:
            s = BmpHeader(data, info);
            break;
        case FileKind::Pcx:
            s = PcxHeader(data, info);
            break;
        case FileKind::Png:
            s = PngHeader(data, info);
            break;
        case FileKind::Tiff:
            s = TiffHeader(data, info);
            break;
        case FileKind::Targa:
            s = TargaHeader(data, info);
            break;
        case FileKind::Gif:
            s = GifHeader(data, info);
            break;
        case FileKind::PhotoCd: {
            const int r = std::clamp(photoCdResolution, 1, 5);
            info->width = 192 << (r - 1);
            info->height = 128 << (r - 1);
            info->depth = 24;
            break;
        }
        case FileKind::Webp:
            s = WebpHeader(data, info);
            break;
        case FileKind::Fif:
            return Status::Error(ErrorCode::UnsupportedFormat, QStringLiteral("FIF"));
        case FileKind::Unknown:
            return Status::Error(ErrorCode::NotAPicture);
    }
    if (!s.ok()) return s;
    const qint64 pixels = static_cast<qint64>(info->width) * info->height;
    if (pixels > kMaxPicturePixels) {
        return Status::Error(ErrorCode::TooLarge,
                             QStringLiteral("%1 x %2 pixels, more than %3 megapixels")
                                 .arg(info->width)
                                 .arg(info->height)
                                 .arg(kMaxPicturePixels / 1'000'000));
    }
    // A file far too small for the picture its header declares is cut
    // short (or made to make us allocate): refused before any allocation.
    if (data.size() < info->minimumBytes) {
        return Status::Error(ErrorCode::CorruptData,
                             QStringLiteral("picture data is cut short: %1 bytes for a %2 x %3 "
                                            "picture that needs at least %4")
                                 .arg(data.size())
                                 .arg(info->width)
                                 .arg(info->height)
                                 .arg(info->minimumBytes));
    }
    return Status::Ok();
}

qint64 DecodeWorkingBytes(FileKind kind, const HeaderInfo& header, qint64 fileBytes) {
    // Peaks measured on 50-megapixel files, beyond the picture itself.
    const qint64 pixels = static_cast<qint64>(header.width) * header.height;
    switch (kind) {
        case FileKind::Jpeg:
        case FileKind::Targa:
        case FileKind::Webp:
            // Decoded straight into the picture's 32-bit pixels.
            return fileBytes + pixels * 4;
        case FileKind::Png:
        case FileKind::Bmp:
        case FileKind::Tiff:
            // Qt decodes into a layout of its own (up to 64 bits a pixel for
            // 16-bit files) and we convert it to ours.
            return fileBytes + pixels * 8;
        case FileKind::Gif:
            return fileBytes + pixels * 12;
        case FileKind::PhotoCd:
            return fileBytes + pixels * 16;
        case FileKind::Pcx:
            // ImageMagick's reader holds the whole file's planes beside its
            // 16-bit pixel cache.
            return fileBytes + pixels * 28;
        default:
            return fileBytes;
    }
}

}  // namespace velda
