// JPEG through TurboJPEG: decoded straight into the picture's own memory,
// encoded from it without an intermediate copy.
#include <turbojpeg.h>

#include <memory>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

namespace {

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

// QImage::Format_RGB32 holds 0xffRRGGBB words; in memory on a little-endian
// machine that is B, G, R, X.
constexpr int kRgb32Pixel = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;

}  // namespace

QSize JpegScaledSize(int w, int h, QSize atLeast, bool halvingsOnly) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    int bestW = w, bestH = h;
    for (int i = 0; factors && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num > f.denom || (halvingsOnly && f.num != 1)) continue;
        const int sw = TJSCALED(w, f), sh = TJSCALED(h, f);
        if (sw >= atLeast.width() && sh >= atLeast.height() && sw < bestW) {
            bestW = sw;
            bestH = sh;
        }
    }
    return {bestW, bestH};
}

Status DecodeJpeg(const QByteArray& data, const HeaderInfo& header, Picture* out, QSize atLeast,
                  bool halvingsOnly) {
    TjHandle tj(tjInitDecompress());
    if (!tj) return Status::Error(ErrorCode::OutOfMemory);
    const auto* src = reinterpret_cast<const unsigned char*>(data.constData());
    const auto size = static_cast<unsigned long>(data.size());
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(tj.get(), src, size, &w, &h, &subsamp, &colorspace) != 0) {
        return Status::Error(ErrorCode::CorruptData, QString::fromUtf8(tjGetErrorStr2(tj.get())));
    }
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        // TurboJPEG cannot turn CMYK into RGB; Qt's reader can.
        return DecodeWithQt(data, "jpeg", header, out);
    }
    if (atLeast.isValid()) {
        // Decoding at a fraction of the size skips most of the work of a
        // picture that is to be made smaller anyway.
        const QSize scaled = JpegScaledSize(w, h, atLeast, halvingsOnly);
        w = scaled.width();
        h = scaled.height();
    }
    const bool grey = colorspace == TJCS_GRAY;
    QImage image(w, h, grey ? QImage::Format_Indexed8 : QImage::Format_RGB32);
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    if (grey) image.setColorTable(GreyPalette());
    // Any warning (a file cut short, damaged data) fails the load rather
    // than showing a half-grey picture as if it were whole.
    if (tjDecompress2(tj.get(), src, size, image.bits(), w, static_cast<int>(image.bytesPerLine()),
                      h, grey ? TJPF_GRAY : kRgb32Pixel, 0) != 0) {
        return Status::Error(ErrorCode::CorruptData, QString::fromUtf8(tjGetErrorStr2(tj.get())));
    }
    out->image = std::move(image);
    out->depth = header.depth;
    return Status::Ok();
}

Status EncodeJpeg(const QImage& image, int quality, QByteArray* out) {
    const QImage rgb = FlattenedRgb(image);
    if (rgb.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    TjHandle tj(tjInitCompress());
    if (!tj) return Status::Error(ErrorCode::OutOfMemory);
    // Encoded straight into the result's memory, sized for the worst case
    // (pages never written are never touched), so nothing is copied after.
    const int q = std::clamp(quality, 1, 100);
    const unsigned long bound = tjBufSize(rgb.width(), rgb.height(), TJSAMP_420);
    QByteArray bytes(static_cast<qsizetype>(bound), Qt::Uninitialized);
    auto* jpeg = reinterpret_cast<unsigned char*>(bytes.data());
    unsigned long jpegSize = bound;
    if (tjCompress2(tj.get(), rgb.constBits(), rgb.width(), static_cast<int>(rgb.bytesPerLine()),
                    rgb.height(), kRgb32Pixel, &jpeg, &jpegSize, TJSAMP_420, q,
                    TJFLAG_NOREALLOC) != 0) {
        return Status::Error(ErrorCode::WriteFailed, QString::fromUtf8(tjGetErrorStr2(tj.get())));
    }
    bytes.truncate(static_cast<qsizetype>(jpegSize));
    *out = std::move(bytes);
    return Status::Ok();
}

namespace {

using namespace header;

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

bool Sniff(const QByteArray& d, const QString&) {
    return StartsWith(d, "\xFF\xD8\xFF", 3);
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return JpegHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions& o, Picture* out) {
    return DecodeJpeg(d, h, out, o.atLeast, o.halvingsOnly);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeJpeg(image, o.quality, out);
}

}  // namespace

const FormatInfo kJpegFormat = {
    .id = FormatId::Jpeg,
    .name = "jpg",
    .title = "JPEG",
    .endings = ".jpg .jpeg .jpe .jfif",
    .code = 7,
    .writeDepths = kWrites24,
    .takesQuality = true,
    .holdsMetadata = true,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .metadata = ReadMetadata,
    // Decoded straight into the picture's 32-bit pixels.
    .decodeBytesPerPixel = 4,
    .encodeBytesPerPixel = 2,
};

}  // namespace velda
