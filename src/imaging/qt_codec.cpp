// PNG, BMP and TIFF reading through Qt's image plugins (and JPEG in CMYK,
// which TurboJPEG cannot turn into RGB).
#include <QBuffer>
#include <QImageReader>

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

}  // namespace velda
