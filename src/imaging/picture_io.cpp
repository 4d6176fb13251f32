#include "imaging/picture_io.h"

#include "imaging/resize.h"

#include "base/file_access.h"

namespace velda {

namespace {

// Files larger than the biggest picture we can hold, uncompressed with some
// slack, are not read into memory at all.
constexpr qint64 kMaxFileBytes = kMaxPicturePixels * 4 + (64 << 20);

constexpr double kDctHeadroom = 2;

}  // namespace

SourceInfo ProbeSource(QByteArray data, const QString& name, int photoCdResolution) {
    SourceInfo source;
    source.name = name;
    source.data = std::move(data);
    source.photoCdResolution = photoCdResolution;
    source.format = SniffFormat(source.data, name);
    source.headerStatus = ReadHeader(source.format, source.data, photoCdResolution, &source.header);
    if (source.headerStatus.ok() && source.formatInfo().metadata)
        source.metadata = source.formatInfo().metadata(source.data, &source.orientation);
    return source;
}

Status DecodePicture(const QByteArray& data, const QString& nameHint, int photoCdResolution,
                     Picture* out, const DecodeGate& gate) {
    return DecodeSource(ProbeSource(data, nameHint, photoCdResolution), out, gate);
}

QSize DecodedSizeFor(const SourceInfo& source, QSize resized, ResizeFilter filter) {
    const QSize stored(source.header.width, source.header.height);
    if (source.format != FormatId::Jpeg || !resized.isValid()) return stored;
    const QSize atLeast = source.orientation >= 5 ? resized.transposed() : resized;
    return JpegScaledSize(stored.width(), stored.height(), atLeast,
                          filter == ResizeFilter::Lanczos3);
}

Status DecodeSource(const SourceInfo& source, Picture* out, const DecodeGate& gate, QSize resized,
                    ResizeFilter filter) {
    if (Status s = DecodeUnresized(source, out, gate, resized, filter); !s.ok()) return s;
    return ResizeDecoded(source, out, resized, filter);
}

Status DecodeUnresized(const SourceInfo& source, Picture* out, const DecodeGate& gate,
                       QSize resized, ResizeFilter filter) {
    if (!source.headerStatus.ok()) return source.headerStatus;
    const FormatInfo& format = source.formatInfo();
    const HeaderInfo& header = source.header;
    const QByteArray& data = source.data;
    if (!format.readable()) return Status::Error(ErrorCode::NotAPicture);
    if (gate) {
        const DecodeEstimate estimate{
            format.id,    header.width, header.height,
            header.depth, data.size(),  DecodeWorkingBytes(format.id, header, data.size())};
        if (Status s = gate(estimate); !s.ok()) return s;
    }
    Picture picture;
    // Turned upright as the camera meant it, so that marks land where the
    // user sees them.
    const int orientation = source.orientation;
    picture.metadata = source.metadata;
    const auto upright = [orientation](QSize size) {
        return orientation >= 5 ? size.transposed() : size;
    };
    // A JPEG is decoded at the smallest of its DCT scales that still holds
    // the size it ends at; for Lanczos, of the halvings only: the scales
    // between them alias, and the filter cannot take that out again.
    const bool scaled = format.id == FormatId::Jpeg && resized.isValid();
    DecodeOptions options;
    options.photoCdResolution = source.photoCdResolution;
    if (scaled) {
        options.atLeast = upright(resized);
        options.halvingsOnly = filter == ResizeFilter::Lanczos3;
    }
    Status s;
    try {
        s = format.decode(data, header, options, &picture);
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
    if (!s.ok()) return s;
    if (orientation != 1) {
        QImage turned = ApplyOrientation(picture.image, orientation);
        if (turned.isNull()) return Status::Error(ErrorCode::OutOfMemory);
        picture.image = NormalizeImage(turned);
    }
    picture.fileName = source.name;
    picture.format = format.id;
    *out = std::move(picture);
    return Status::Ok();
}

Status ResizeDecoded(const SourceInfo& source, Picture* picture, QSize resized,
                     ResizeFilter filter) {
    const bool scaled = source.format == FormatId::Jpeg && resized.isValid();
    if (scaled && picture->image.size() != resized && filter == ResizeFilter::Area) {
        QImage smaller = ResizeHighQuality(picture->image, resized);
        if (smaller.isNull()) return Status::Error(ErrorCode::OutOfMemory);
        picture->image = smaller.convertToFormat(QImage::Format_RGB32);
        picture->depth = 24;
    } else if (resized.isValid()) {
        if (Status r = ResizePicture(picture, resized, filter); !r.ok()) return r;
    }
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
Status MarkJpegData(const SourceInfo& source, bool keepMetadata, const DecodeGate& gate,
                    bool keepBlocks, const std::function<Status(int orientation)>& mark,
                    JpegRemark* out) {
    *out = JpegRemark();
    if (source.format != FormatId::Jpeg) return Status::Ok();
    if (!source.headerStatus.ok()) return source.headerStatus;
    const HeaderInfo& header = source.header;
    const QByteArray& data = source.data;
    if (gate) {
        // Every block's coefficients, when they are all held (as they are
        // for a progressive source too): at most three samples a pixel, two
        // bytes each.
        const qint64 pixels = static_cast<qint64>(header.width) * header.height;
        const qint64 workingBytesPerPixel = keepBlocks || header.scans > 1 ? 6 : 0;
        const DecodeEstimate estimate{
            FormatId::Jpeg, header.width, header.height,
            header.depth,   data.size(),  2 * data.size() + workingBytesPerPixel * pixels};
        if (Status s = gate(estimate); !s.ok()) return s;
    }
    const int orientation = source.orientation;
    const MetadataPtr& metadata = source.metadata;
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

Status RemarkJpegSource(const SourceInfo& source, const RegionMarks& marks, bool keepMetadata,
                        const DecodeGate& gate, JpegRemark* out) {
    return MarkJpegData(
        source, keepMetadata, gate, true,
        [&](int orientation) { return RemarkJpeg(source.data, orientation, marks, out); }, out);
}

Status MarkJpegSourceRows(const SourceInfo& source, const RegionMarks& marks, int quality,
                          bool keepMetadata, const DecodeGate& gate, JpegRemark* out) {
    return MarkJpegData(
        source, keepMetadata, gate, false,
        [&](int orientation) {
            if (orientation != 1) {
                out->wholeReason = QStringLiteral("turned");
                return Status::Ok();
            }
            return MarkJpegRows(source.data, marks, quality, out);
        },
        out);
}

Status RemarkJpegData(const QByteArray& data, const RegionMarks& marks, bool keepMetadata,
                      const DecodeGate& gate, JpegRemark* out) {
    return RemarkJpegSource(ProbeSource(data, QString()), marks, keepMetadata, gate, out);
}

Status MarkJpegDataRows(const QByteArray& data, const RegionMarks& marks, int quality,
                        bool keepMetadata, const DecodeGate& gate, JpegRemark* out) {
    return MarkJpegSourceRows(ProbeSource(data, QString()), marks, quality, keepMetadata, gate,
                              out);
}

namespace {

// options.depth is taken from the picture.
Status Encode(const Picture& picture, const FormatInfo& format, EncodeOptions options,
              QByteArray* out) {
    if (picture.isNull()) return Status::Error(ErrorCode::NoPicture);
    if (!format.writable()) {
        return Status::Error(ErrorCode::BadArgument,
                             QStringLiteral("%1 is not written").arg(QLatin1String(format.title)));
    }
    options.depth = picture.depth >= 24 ? 24 : (picture.depth > 4 ? 8 : 4);
    if (!format.writes(options.depth)) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("%1 is not written at %2 bits")
                                                         .arg(QLatin1String(format.title))
                                                         .arg(options.depth));
    }
    if (options.depth <= 8 && picture.image.format() != QImage::Format_Indexed8) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("palette picture expected"));
    }
    try {
        return format.encode(picture.image, options, out);
    } catch (const std::bad_alloc&) {
        return Status::Error(ErrorCode::OutOfMemory);
    }
}

}  // namespace

Status EncodePicture(const Picture& picture, const FormatInfo& format, int quality, QByteArray* out,
                     bool lossless) {
    EncodeOptions options;
    options.quality = quality;
    options.lossless = lossless;
    return Encode(picture, format, options, out);
}

Status WritePicture(const Picture& picture, const FormatInfo& format, const QString& path,
                    const WriteOptions& options, WriteResult* result) {
    Picture writable;
    if (Status s = ToWritable(picture, format, options.depth, options.threads, &writable);
        !s.ok()) {
        return s;
    }
    const bool withMetadata = options.keepMetadata && writable.metadata && format.holdsMetadata;
    EncodeOptions encode;
    encode.lossless = options.lossless;
    encode.threads = options.threads;
    MetadataBlocks blocks;
    if (withMetadata && format.encoderWritesMetadata) {
        blocks =
            MetadataBlocksFor(*writable.metadata, writable.image.width(), writable.image.height());
        encode.metadata = &blocks;
    }
    WriteResult chosen;
    // The whole file at one quality, metadata included: what the budget
    // is measured against.
    const auto encodeAt = [&](int quality, QByteArray* bytes) -> Status {
        encode.quality = quality;
        ++chosen.encodes;
        if (Status s = Encode(writable, format, encode, bytes); !s.ok()) return s;
        if (withMetadata && !format.encoderWritesMetadata) {
            // Metadata that cannot be written does not cost the picture.
            QByteArray embedded = *bytes;
            if (EmbedMetadata(&embedded, *writable.metadata, writable.image.width(),
                              writable.image.height())
                    .ok()) {
                *bytes = std::move(embedded);
            }
        }
        return Status::Ok();
    };
    QByteArray bytes;
    const int top = std::clamp(options.quality, 1, 100);
    if (options.maxBytes > 0 && format.takesQuality && !options.lossless) {
        // The highest quality that fits, by bisection over 0..top, where 0
        // is "none fits": seven encodes for a hundred qualities, and the
        // answer is always one of them (a fitting quality is known only by
        // encoding it, and "none" only by encoding quality 1). Sizes grow
        // with quality nearly always; where they do not, a fitting quality
        // is still found.
        int lo = 0, hi = top;
        QByteArray fitting, lowest;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            QByteArray probe;
            if (Status s = encodeAt(mid, &probe); !s.ok()) return s;
            if (probe.size() <= options.maxBytes) {
                lo = mid;
                fitting = std::move(probe);
            } else {
                hi = mid - 1;
                if (mid == 1) lowest = std::move(probe);
            }
        }
        chosen.overBudget = lo == 0;
        chosen.quality = std::max(lo, 1);
        bytes = chosen.overBudget ? std::move(lowest) : std::move(fitting);
    } else {
        if (Status s = encodeAt(options.quality, &bytes); !s.ok()) return s;
        chosen.quality = format.takesQuality ? options.quality : 0;
    }
    chosen.bytes = bytes.size();
    if (result) *result = chosen;
    return WriteFileAtomically(path, bytes, options.durable, options.replace);
}

Status WriteFileAtomically(const QString& path, const QByteArray& bytes, bool durable,
                           bool replace) {
    const FileWrite w = WriteFileAtomic(path, bytes, durable, replace);
    if (w.ok) return Status::Ok();
    return Status::Error(w.exists ? ErrorCode::TargetExists : ErrorCode::WriteFailed, w.reason);
}

}  // namespace velda
