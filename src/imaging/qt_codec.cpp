// PNG, BMP and TIFF reading, and TIFF writing at 24 and 8 bits, through
// Qt's image plugins.
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include "imaging/codec.h"

namespace velda {

Status DecodeWithQt(const QByteArray& data, const char* format, const HeaderInfo& header,
                    Picture* out) {
    EnsureCodecsInitialized();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return Status::Error(ErrorCode::CorruptData, reader.errorString());
    }
    // Readers that stop early hand back a picture of another size rather
    // than an error; such a picture is not the file.
    if (image.width() != header.width || image.height() != header.height) {
        return Status::Error(ErrorCode::CorruptData,
                             QStringLiteral("picture size does not match its header"));
    }
    image = NormalizeImage(image);
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    if (header.depth <= 8) image = ToPaletteIfFewColours(image);
    out->depth = header.depth;
    if (out->depth == 32 && image.format() != QImage::Format_ARGB32) out->depth = 24;
    if (out->depth <= 8 && image.format() != QImage::Format_Indexed8) out->depth = 24;
    out->image = std::move(image);
    return Status::Ok();
}

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

}  // namespace velda
