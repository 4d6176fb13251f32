// The format table and what is decided from it alone: which format some
// bytes hold, their header's checks, names and endings, and the conversion
// a picture needs before a format can hold it.
#include "imaging/formats.h"

#include <QFileInfo>
#include <array>

#include "imaging/format_rows.h"
#include "imaging/quantize.h"

namespace velda {

namespace {

constexpr std::array kFormats = {&kJpegFormat, &kTiffFormat,  &kPngFormat, &kWebpFormat,
                                 &kHeicFormat, &kAvifFormat,  &kJxlFormat, &kBmpFormat,
                                 &kPcxFormat,  &kTargaFormat, &kGifFormat, &kPhotoCdFormat,
                                 &kFifFormat};

const FormatInfo kUnknownFormat = {};

bool FifSniff(const QByteArray&, const QString& name) {
    return QFileInfo(name).suffix().toLower() == u"fif";
}

Status FifHeader(const QByteArray&, const DecodeOptions&, HeaderInfo*) {
    return Status::Error(ErrorCode::UnsupportedFormat, QStringLiteral("FIF"));
}

unsigned DepthBit(int depth) {
    return depth >= 24 ? kWrites24 : (depth > 4 ? kWrites8 : kWrites4);
}

}  // namespace

// Fractal pictures are known by name only, to say that they cannot be read.
const FormatInfo kFifFormat = {
    .id = FormatId::Fif,
    .name = "fif",
    .title = "FIF",
    .endings = ".fif",
    .signature = Signature::ByName,
    .sniff = FifSniff,
    .header = FifHeader,
};

bool FormatInfo::writes(int depth) const {
    return (writeDepths & DepthBit(depth)) != 0;
}

QStringList FormatInfo::endingList() const {
    return QString::fromLatin1(endings).split(u' ', Qt::SkipEmptyParts);
}

QString FormatInfo::extension() const {
    if (!writable()) return QString();
    const QStringList all = endingList();
    return all.isEmpty() ? QString() : all.first();
}

std::span<const FormatInfo* const> Formats() {
    return kFormats;
}

const FormatInfo& Format(FormatId id) {
    for (const FormatInfo* f : kFormats)
        if (f->id == id) return *f;
    return kUnknownFormat;
}

const FormatInfo* FormatNamed(QStringView name) {
    const QString lower = name.toString().toLower();
    if (lower.isEmpty()) return nullptr;
    for (const FormatInfo* f : kFormats) {
        if (lower == QLatin1String(f->name) || f->endingList().contains(u'.' + lower)) return f;
    }
    return nullptr;
}

const FormatInfo* FormatWithCode(int code) {
    for (const FormatInfo* f : kFormats)
        if (code != 0 && f->code == code) return f;
    return nullptr;
}

FormatId SniffFormat(const QByteArray& data, const QString& fileName) {
    for (const Signature pass : {Signature::Strong, Signature::Weak, Signature::ByName}) {
        for (const FormatInfo* f : kFormats) {
            if (f->signature == pass && f->sniff(data, fileName)) return f->id;
        }
    }
    return FormatId::Unknown;
}

const QStringList& PictureEndings() {
    static const QStringList all = [] {
        QStringList list;
        for (const FormatInfo* f : kFormats)
            list.append(f->endingList());
        return list;
    }();
    return all;
}

bool HasPictureEnding(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    // A name that is all ending (".jpg") is a hidden file, not a picture.
    return dot > 0 && PictureEndings().contains(name.mid(dot).toLower());
}

QString PictureEndingPatterns(FormatId id) {
    QStringList patterns;
    for (const FormatInfo* f : kFormats) {
        if (id != FormatId::Unknown && f->id != id) continue;
        for (const QString& e : f->endingList())
            patterns.append(u'*' + e);
    }
    return patterns.join(u';');
}

Status ReadHeader(FormatId id, const QByteArray& data, int photoCdResolution, HeaderInfo* info) {
    const FormatInfo& format = Format(id);
    if (!format.header) return Status::Error(ErrorCode::NotAPicture);
    DecodeOptions options;
    options.photoCdResolution = photoCdResolution;
    if (Status s = format.header(data, options, info); !s.ok()) return s;
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

qint64 DecodeWorkingBytes(FormatId id, const HeaderInfo& header, qint64 fileBytes) {
    const qint64 pixels = static_cast<qint64>(header.width) * header.height;
    return fileBytes + pixels * Format(id).decodeBytesPerPixel;
}

int WritableDepth(const FormatInfo& format, int depth) {
    int d = depth >= 24 ? 24 : (depth > 4 ? 8 : 4);
    if (!format.writes(d) && format.writes(24)) d = 24;
    if (!format.writes(d) && format.writes(8)) d = 8;
    return d;
}

Status ToWritable(const Picture& picture, const FormatInfo& format, int depth, int threads,
                  Picture* out) {
    if (picture.isNull()) return Status::Error(ErrorCode::NoPicture);
    // Where depths are compared, 32 (colour with alpha) counts as 24.
    const int current = picture.depth == 32 ? 24 : picture.depth;
    const int target = WritableDepth(format, depth);
    // The asked depth first, then what the format holds: a GIF asked at 24
    // bits is a true-colour picture brought to 256 colours.
    const int asked = format.writes(24) ? target : std::max(target, depth >= 24 ? 24 : target);
    Picture p = picture;
    if (asked > current) {
        if (asked >= 24 && p.image.format() == QImage::Format_Indexed8) {
            const bool alpha = HasTransparency(p.image);
            QImage raised =
                p.image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
            if (raised.isNull()) return Status::Error(ErrorCode::OutOfMemory);
            p.image = std::move(raised);
        }
        p.depth = asked >= 24 ? (p.image.format() == QImage::Format_ARGB32 ? 32 : 24) : asked;
    }
    const int now = p.depth == 32 ? 24 : p.depth;
    if (target < now || (target <= 8 && p.image.format() != QImage::Format_Indexed8)) {
        QImage reduced;
        const int colours = target == 8 ? 256 : 16;
        if (Status s = QuantizeImage(p.image, colours, &reduced, threads); !s.ok()) return s;
        p.image = std::move(reduced);
        p.depth = target;
    }
    *out = std::move(p);
    return Status::Ok();
}

}  // namespace velda
