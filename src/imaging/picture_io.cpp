#include "imaging/picture_io.h"

#include "imaging/resize.h"

#include "settings/file_access.h"

namespace velda {

namespace {

// Files larger than the biggest picture we can hold, uncompressed with some
// slack, are not read into memory at all.
constexpr qint64 kMaxFileBytes = kMaxPicturePixels * 4 + (64 << 20);

}  // namespace

QString ExtensionForFormat(int formatCode) {
    switch (formatCode) {
        case kFormatTiff:
            return QStringLiteral(".tif");
        case kFormatTarga:
            return QStringLiteral(".tga");
        case kFormatBmp:
            return QStringLiteral(".bmp");
        case kFormatGif:
            return QStringLiteral(".gif");
        case kFormatPcx:
            return QStringLiteral(".pcx");
        case kFormatJpeg:
            return QStringLiteral(".jpg");
        case kFormatPng:
            return QStringLiteral(".png");
        case kFormatWebp:
            return QStringLiteral(".webp");
        default:
            return QString();
    }
}

Status DecodePicture(const QByteArray& data, const QString& nameHint, int photoCdResolution,
                     Picture* out, const DecodeGate& gate, const ResizeTarget& resize) {
    const FileKind kind = SniffKind(data, nameHint);
    HeaderInfo header;
    if (Status s = ReadHeader(kind, data, photoCdResolution, &header); !s.ok()) return s;
    if (gate) {
        const DecodeEstimate estimate{kind,          header.width,
                                      header.height, header.depth,
                                      data.size(),   DecodeWorkingBytes(kind, header, data.size())};
        if (Status s = gate(estimate); !s.ok()) return s;
    }
    Picture picture;
    Status s;
    // Turned upright as the camera meant it, so that marks land where the
    // user sees them.
    int orientation = 1;
    const bool oriented = kind == FileKind::Jpeg || kind == FileKind::Tiff ||
                          kind == FileKind::Png || kind == FileKind::Webp;
    if (oriented) picture.metadata = ReadMetadata(data, &orientation);
    const auto upright = [orientation](QSize size) {
        return orientation >= 5 ? size.transposed() : size;
    };
    // The size a resized JPEG ends at, from its full size: the same
    // whatever scale it is decoded at.
    QSize resized;
    if (kind == FileKind::Jpeg && resize.kind != ResizeTarget::Kind::None) {
        const QSize full = upright(QSize(header.width, header.height));
        if (const QSize to = ResizedSize(resize, full); to != full) resized = to;
    }
    try {
        switch (kind) {
            case FileKind::Jpeg:
                s = DecodeJpeg(data, header, &picture, upright(resized));
                break;
            case FileKind::Png:
                s = DecodeWithQt(data, "png", header, &picture);
                break;
            case FileKind::Bmp:
                s = DecodeWithQt(data, "bmp", header, &picture);
                break;
            case FileKind::Tiff:
                s = DecodeWithQt(data, "tiff", header, &picture);
                break;
            case FileKind::Targa:
                s = DecodeTarga(data, header, &picture);
                break;
            case FileKind::Webp:
                s = DecodeWebp(data, header, &picture);
                break;
            case FileKind::Pcx:
            case FileKind::Gif:
            case FileKind::PhotoCd:
                s = DecodeWithMagick(kind, data, photoCdResolution, header, &picture);
                break;
            default:
                return Status::Error(ErrorCode::NotAPicture);
        }
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
    if (!s.ok()) return s;
    if (oriented && orientation != 1) {
        QImage turned = ApplyOrientation(picture.image, orientation);
        if (turned.isNull()) return Status::Error(ErrorCode::OutOfMemory);
        picture.image = NormalizeImage(turned);
    }
    if (resized.isValid() && picture.image.size() != resized) {
        QImage smaller = ResizeHighQuality(picture.image, resized);
        if (smaller.isNull()) return Status::Error(ErrorCode::OutOfMemory);
        picture.image = smaller.convertToFormat(QImage::Format_RGB32);
        picture.depth = 24;
    }
    picture.fileName = nameHint;
    *out = std::move(picture);
    return Status::Ok();
}

Status ReadPictureFile(const QString& path, QByteArray* out) {
    const FileRead r = ReadRegularFile(path, kMaxFileBytes, out);
    switch (r.error) {
        case ReadError::None:
            return Status::Ok();
        case ReadError::NotRegular:
            return Status::Error(ErrorCode::NotRegularFile, r.reason);
        case ReadError::TooLarge:
            return Status::Error(ErrorCode::TooLarge, r.reason);
        case ReadError::Missing:
        case ReadError::Failed:
            break;
    }
    return Status::Error(ErrorCode::FileNotFound, r.reason);
}

Status LoadPicture(const QString& path, int photoCdResolution, Picture* out,
                   const DecodeGate& gate) {
    QByteArray data;
    if (Status s = ReadPictureFile(path, &data); !s.ok()) return s;
    return DecodePicture(data, path, photoCdResolution, out, gate);
}

namespace {

// What both ways of marking a JPEG in memory share: the header checked, the
// work admitted, and the source's metadata carried over. keepBlocks: the
// source's blocks are kept, all held at once and in their stored frame.
Status MarkJpegData(const QByteArray& data, bool keepMetadata, const DecodeGate& gate,
                    bool keepBlocks, const std::function<Status(int orientation)>& mark,
                    JpegRemark* out) {
    *out = JpegRemark();
    if (SniffKind(data, QString()) != FileKind::Jpeg) return Status::Ok();
    HeaderInfo header;
    if (Status s = ReadHeader(FileKind::Jpeg, data, kPhotoCdBase, &header); !s.ok()) return s;
    if (gate) {
        // Every block's coefficients, when they are all held (as they are
        // for a progressive source too): at most three samples a pixel, two
        // bytes each.
        const qint64 pixels = static_cast<qint64>(header.width) * header.height;
        const qint64 workingBytesPerPixel = keepBlocks || header.scans > 1 ? 6 : 0;
        const DecodeEstimate estimate{
            FileKind::Jpeg, header.width, header.height,
            header.depth,   data.size(),  2 * data.size() + workingBytesPerPixel * pixels};
        if (Status s = gate(estimate); !s.ok()) return s;
    }
    int orientation = 1;
    const MetadataPtr metadata = ReadMetadata(data, &orientation);
    try {
        if (Status s = mark(orientation); !s.ok()) return s;
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
    out->orientation = orientation;
    if (keepMetadata && metadata && !out->file.isEmpty()) {
        // Metadata that cannot be written does not cost the picture.
        QByteArray withMetadata = out->file;
        if (EmbedMetadata(&withMetadata, *metadata, out->width, out->height, keepBlocks).ok())
            out->file = std::move(withMetadata);
    }
    return Status::Ok();
}

}  // namespace

Status RemarkJpegData(const QByteArray& data, const RegionMarks& marks, bool keepMetadata,
                      const DecodeGate& gate, JpegRemark* out) {
    return MarkJpegData(
        data, keepMetadata, gate, true,
        [&](int orientation) { return RemarkJpeg(data, orientation, marks, out); }, out);
}

Status MarkJpegDataRows(const QByteArray& data, const RegionMarks& marks, int quality,
                        bool keepMetadata, const DecodeGate& gate, JpegRemark* out) {
    return MarkJpegData(
        data, keepMetadata, gate, false,
        [&](int orientation) {
            if (orientation != 1) {
                out->wholeReason = QStringLiteral("turned");
                return Status::Ok();
            }
            return MarkJpegRows(data, marks, quality, out);
        },
        out);
}

bool FormatHoldsMetadata(int formatCode) {
    return formatCode == kFormatJpeg || formatCode == kFormatTiff || formatCode == kFormatPng ||
           formatCode == kFormatWebp;
}

Status EncodePicture(const Picture& picture, int formatCode, int quality, QByteArray* out,
                     bool lossless) {
    if (picture.isNull()) return Status::Error(ErrorCode::NoPicture);
    const int depth = picture.depth >= 24 ? 24 : (picture.depth > 4 ? 8 : 4);
    const QImage& image = picture.image;
    if (formatCode == kFormatWebp) {
        try {
            return EncodeWebp(image, quality, lossless, out);
        } catch (const std::bad_alloc&) {
            return Status::Error(ErrorCode::OutOfMemory);
        }
    }
    if (depth <= 8 && image.format() != QImage::Format_Indexed8) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("palette picture expected"));
    }
    try {
        switch (formatCode) {
            case kFormatJpeg:
                return EncodeJpeg(image, quality, out);
            case kFormatBmp:
                return EncodeBmp(image, depth, out);
            case kFormatPcx:
                return EncodePcx(image, depth, out);
            case kFormatTiff:
                return EncodeTiff(image, depth, out);
            case kFormatTarga:
                return EncodeTarga(image, depth, out);
            case kFormatPng:
                return EncodePng(image, depth, out);
            case kFormatGif:
                if (depth > 8)
                    return Status::Error(ErrorCode::BadArgument,
                                         QStringLiteral("GIF holds at most 256 colours"));
                return EncodeGif(image, out);
            default:
                return Status::Error(ErrorCode::BadArgument,
                                     QStringLiteral("format code %1").arg(formatCode));
        }
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
}

Status WriteFileAtomically(const QString& path, const QByteArray& bytes, bool durable,
                           bool replace) {
    const FileWrite w = WriteFileAtomic(path, bytes, durable, replace);
    if (w.ok) return Status::Ok();
    return Status::Error(w.exists ? ErrorCode::TargetExists : ErrorCode::WriteFailed, w.reason);
}

}  // namespace velda
