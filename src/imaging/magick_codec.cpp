// PCX, GIF and Photo CD reading, and 4-bit TIFF writing, through
// ImageMagick. The coder is always named explicitly, so a
// file is never handed to a decoder other than the one its signature chose.
#include <Magick++.h>

#include <QRegularExpression>
#include <QtGlobal>
#include <cmath>
#include <vector>

#include "imaging/codec.h"

namespace velda {

namespace {

// The range of ImageMagick's quantum (65535 for the Q16 build).
constexpr double kQuantumRange = 65535.0;
static_assert(MAGICKCORE_QUANTUM_DEPTH == 16, "built for the Q16 ImageMagick");

// Byte order of QImage's 32-bit pixels in memory.
const char* Argb32Map() {
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "BGRA" : "ARGB";
}

uint8_t ToByte(MagickCore::Quantum q) {
    return static_cast<uint8_t>(std::lround(static_cast<double>(q) * 255.0 / kQuantumRange));
}
MagickCore::Quantum FromByte(int v) {
    return static_cast<MagickCore::Quantum>(std::lround(v * (kQuantumRange / 255.0)));
}

// ImageMagick's exception text in our words: the name it was started under
// ("velda-batch: ", "Magick: ") and the "@ error/coder.c/Function/line"
// tail are for its developers.
QString Detail(const std::exception& e) {
    QString text = QString::fromLocal8Bit(e.what());
    const QString client = QString::fromLocal8Bit(MagickCore::GetClientName()) + u':';
    if (text.startsWith(client)) text.remove(0, client.size());
    text.remove(QRegularExpression(QStringLiteral("^[A-Za-z]*Magick[^:]*: ")));
    text.remove(QRegularExpression(QStringLiteral("\\s*@ (error|warning)/.*$")));
    text.remove(QStringLiteral(" `'"));
    return text.trimmed();
}

QImage ToQImage(Magick::Image& img) {
    const int w = static_cast<int>(img.columns()), h = static_cast<int>(img.rows());
    const MagickCore::Image* core = img.constImage();
    const bool matte = img.matte();
    if (img.classType() == Magick::PseudoClass && core->colors > 0 && core->colors <= 256) {
        QImage out(w, h, QImage::Format_Indexed8);
        if (out.isNull()) return out;
        QList<QRgb> palette(static_cast<qsizetype>(core->colors));
        for (size_t i = 0; i < core->colors; ++i) {
            const MagickCore::PixelPacket& c = core->colormap[i];
            const int alpha = matte ? 255 - ToByte(c.opacity) : 255;
            palette[static_cast<qsizetype>(i)] =
                qRgba(ToByte(c.red), ToByte(c.green), ToByte(c.blue), alpha);
        }
        out.setColorTable(palette);
        for (int y = 0; y < h; ++y) {
            img.getConstPixels(0, y, static_cast<size_t>(w), 1);
            const MagickCore::IndexPacket* idx = img.getConstIndexes();
            uint8_t* row = out.scanLine(y);
            for (int x = 0; x < w; ++x) {
                const auto v = static_cast<size_t>(idx[x]);
                row[x] = static_cast<uint8_t>(v < core->colors ? v : 0);
            }
        }
        return out;
    }
    QImage out(w, h, matte ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull()) return out;
    for (int y = 0; y < h; ++y) {
        img.write(0, y, static_cast<size_t>(w), 1, Argb32Map(), Magick::CharPixel, out.scanLine(y));
    }
    return out;
}

}  // namespace

Status DecodeWithMagick(const QByteArray& data, const HeaderInfo& header, const MagickRead& how,
                        Picture* out) {
    EnsureCodecsInitialized();
    try {
        Magick::Image img;
        img.magick(how.coder);
        img.subRange(1);  // the first picture only (GIF animations)
        if (how.subImage > 0) img.subImage(static_cast<size_t>(how.subImage));
        img.read(Magick::Blob(data.constData(), static_cast<size_t>(data.size())));
        if (how.toSrgb && img.colorSpace() != Magick::sRGBColorspace)
            img.colorSpace(Magick::sRGBColorspace);
        const qint64 pixels = static_cast<qint64>(img.columns()) * static_cast<qint64>(img.rows());
        if (pixels == 0) return Status::Error(ErrorCode::CorruptData);
        if (pixels > kMaxPicturePixels) return Status::Error(ErrorCode::TooLarge);
        if (how.sizeFromHeader && (static_cast<int>(img.columns()) != header.width ||
                                   static_cast<int>(img.rows()) != header.height)) {
            return Status::Error(ErrorCode::CorruptData,
                                 QStringLiteral("picture size does not match its header"));
        }
        QImage image = ToQImage(img);
        if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
        if (header.depth <= 8) image = ToPaletteIfFewColours(image);
        out->depth = header.depth;
        if (image.format() != QImage::Format_Indexed8 && out->depth <= 8) out->depth = 24;
        if (image.format() == QImage::Format_Indexed8 && out->depth > 8) out->depth = 8;
        if (image.format() == QImage::Format_ARGB32) out->depth = 32;
        if (image.format() == QImage::Format_RGB32) out->depth = 24;
        out->image = std::move(image);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    } catch (const std::exception& e) {
        // Warnings count too: a file cut short reads back "successfully"
        // with a warning, and is not the picture the user has.
        return Status::Error(ErrorCode::CorruptData, Detail(e));
    }
}

Status EncodeTiff4WithMagick(const QImage& image, QByteArray* out) {
    EnsureCodecsInitialized();
    const int w = image.width(), h = image.height();
    try {
        if (image.format() != QImage::Format_Indexed8) {
            return Status::Error(ErrorCode::BadArgument,
                                 QStringLiteral("palette picture expected"));
        }
        // The palette is padded to the full 16 entries, so the file's header
        // says 4 bits whatever the colour count.
        constexpr size_t entries = 16;
        QList<QRgb> palette = image.colorTable();
        if (palette.size() > static_cast<qsizetype>(entries)) {
            return Status::Error(ErrorCode::BadArgument, QStringLiteral("too many colours"));
        }
        palette = FlattenedPalette(palette);
        // Made from pixels rather than a colour, which would need a coder.
        const std::vector<unsigned char> black(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
        Magick::Image img(static_cast<size_t>(w), static_cast<size_t>(h), "RGB", Magick::CharPixel,
                          black.data());
        img.modifyImage();
        MagickCore::Image* core = img.image();
        if (!MagickCore::AcquireImageColormap(core, entries))
            return Status::Error(ErrorCode::OutOfMemory);
        for (size_t i = 0; i < entries; ++i) {
            const QRgb c = i < static_cast<size_t>(palette.size())
                               ? palette[static_cast<qsizetype>(i)]
                               : qRgb(0, 0, 0);
            MagickCore::PixelPacket& p = core->colormap[i];
            p.red = FromByte(qRed(c));
            p.green = FromByte(qGreen(c));
            p.blue = FromByte(qBlue(c));
            p.opacity = qAlpha(c) < 128 ? FromByte(255) : FromByte(0);
        }
        core->matte = MagickCore::MagickFalse;
        for (int y = 0; y < h; ++y) {
            MagickCore::PixelPacket* q = img.getPixels(0, y, static_cast<size_t>(w), 1);
            MagickCore::IndexPacket* ix = img.getIndexes();
            const uint8_t* s = image.constScanLine(y);
            for (int x = 0; x < w; ++x) {
                const size_t v = s[x] < entries ? s[x] : 0;
                ix[x] = static_cast<MagickCore::IndexPacket>(v);
                q[x] = core->colormap[v];
            }
            img.syncPixels();
        }
        img.type(Magick::PaletteType);
        img.magick("TIFF");
        img.compressType(Magick::LZWCompression);
        Magick::Blob blob;
        img.write(&blob);
        *out = QByteArray(static_cast<const char*>(blob.data()),
                          static_cast<qsizetype>(blob.length()));
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    } catch (const std::exception& e) {
        return Status::Error(ErrorCode::WriteFailed, Detail(e));
    }
}

}  // namespace velda
