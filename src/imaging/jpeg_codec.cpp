// JPEG through TurboJPEG: decoded straight into the picture's own memory,
// encoded from it without an intermediate copy.
#include <turbojpeg.h>

#include <memory>

#include "imaging/codec.h"

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

Status DecodeJpeg(const QByteArray& data, const HeaderInfo& header, Picture* out, QSize atLeast) {
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
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        int bestW = w, bestH = h;
        for (int i = 0; factors && i < count; ++i) {
            const tjscalingfactor f = factors[i];
            if (f.num > f.denom) continue;
            const int sw = TJSCALED(w, f), sh = TJSCALED(h, f);
            if (sw >= atLeast.width() && sh >= atLeast.height() && sw < bestW) {
                bestW = sw;
                bestH = sh;
            }
        }
        w = bestW;
        h = bestH;
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

}  // namespace velda
