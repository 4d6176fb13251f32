#include "imaging/picture_io.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

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
        default:
            return QString();
    }
}

Status DecodePicture(const QByteArray& data, const QString& nameHint, int photoCdResolution,
                     Picture* out) {
    const FileKind kind = SniffKind(data, nameHint);
    HeaderInfo header;
    if (Status s = ReadHeader(kind, data, photoCdResolution, &header); !s.ok()) return s;
    Picture picture;
    Status s;
    try {
        switch (kind) {
            case FileKind::Jpeg:
                s = DecodeJpeg(data, header, &picture);
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
            case FileKind::Pcx:
            case FileKind::Targa:
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
    if (kind == FileKind::Jpeg || kind == FileKind::Tiff || kind == FileKind::Png) {
        // Turned upright as the camera meant it, so that marks land where
        // the user sees them.
        int orientation = 1;
        picture.metadata = ReadMetadata(data, &orientation);
        if (orientation != 1) {
            QImage upright = ApplyOrientation(picture.image, orientation);
            if (upright.isNull()) return Status::Error(ErrorCode::OutOfMemory);
            picture.image = NormalizeImage(upright);
        }
    }
    picture.fileName = nameHint;
    *out = std::move(picture);
    return Status::Ok();
}

Status LoadPicture(const QString& path, int photoCdResolution, Picture* out) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return Status::Error(ErrorCode::FileNotFound, path);
    }
    if (file.size() > kMaxFileBytes) {
        return Status::Error(ErrorCode::TooLarge,
                             QStringLiteral("file of %1 bytes").arg(file.size()));
    }
    QByteArray data;
    try {
        data = file.readAll();
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
    if (file.error() != QFileDevice::NoError) {
        return Status::Error(ErrorCode::FileNotFound, file.errorString());
    }
    return DecodePicture(data, path, photoCdResolution, out);
}

Status EncodePicture(const Picture& picture, int formatCode, int quality, QByteArray* out) {
    if (picture.isNull()) return Status::Error(ErrorCode::NoPicture);
    const int depth = picture.depth >= 24 ? 24 : (picture.depth > 4 ? 8 : 4);
    const QImage& image = picture.image;
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
                return EncodeWithMagick(FileKind::Targa, image, depth, out);
            case kFormatGif:
                if (depth > 8)
                    return Status::Error(ErrorCode::BadArgument,
                                         QStringLiteral("GIF holds at most 256 colours"));
                return EncodeWithMagick(FileKind::Gif, image, 8, out);
            default:
                return Status::Error(ErrorCode::BadArgument,
                                     QStringLiteral("format code %1").arg(formatCode));
        }
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
}

Status WriteFileAtomically(const QString& path, const QByteArray& bytes, bool durable) {
#ifdef Q_OS_UNIX
    // QSaveFile always syncs to disk, which costs a batch more than the
    // encoding itself; here the sync is only done when asked for. The
    // temporary's name starts with a dot, so a walk never takes it.
    const QFileInfo info(path);
    QTemporaryFile tmp(info.absolutePath() + QStringLiteral("/.velda-XXXXXX"));
    tmp.setAutoRemove(true);
    if (!tmp.open()) return Status::Error(ErrorCode::WriteFailed, tmp.errorString());
    if (tmp.write(bytes) != bytes.size() || !tmp.flush()) {
        return Status::Error(ErrorCode::WriteFailed, tmp.errorString());
    }
    if (durable && ::fsync(tmp.handle()) != 0) {
        return Status::Error(ErrorCode::WriteFailed, QString::fromLocal8Bit(strerror(errno)));
    }
    // Files are made readable as any other file the user writes.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(tmp.handle(), 0666 & ~mask);
    if (::rename(QFile::encodeName(tmp.fileName()).constData(),
                 QFile::encodeName(path).constData()) != 0) {
        return Status::Error(ErrorCode::WriteFailed, QString::fromLocal8Bit(strerror(errno)));
    }
    tmp.setAutoRemove(false);
    return Status::Ok();
#else
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return Status::Error(ErrorCode::WriteFailed, file.errorString());
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return Status::Error(ErrorCode::WriteFailed, file.errorString());
    }
    if (!file.commit()) return Status::Error(ErrorCode::WriteFailed, file.errorString());
    (void)durable;
    return Status::Ok();
#endif
}

}  // namespace velda
