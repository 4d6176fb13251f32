#include "batch/watermark_file.h"

#include <QFile>
#include <QFileInfo>

#include "batch/messages.h"
#include "batch/tokens.h"
#include "imaging/loaders.h"
#include "imaging/picture_io.h"
#include "imaging/resize.h"

namespace velda {

namespace {

// Where depths are compared, 32 (colour with alpha) counts as 24.
int ComparableDepth(int depth) {
    return depth == 32 ? 24 : depth;
}

// Called once the result is on disk (durably, when sources are deleted).
void DeleteSourceIfDone(const QString& sourcePath, const QString& targetPath,
                        const FileOptions& options) {
    if (!options.deleteSource || (options.keepSources && options.keepSources->load())) return;
    const QString source = QFileInfo(sourcePath).canonicalFilePath();
    if (!source.isEmpty() && source != QFileInfo(targetPath).canonicalFilePath()) {
        QFile::remove(sourcePath);  // a failure to delete is not the file's failure
    }
}

// Success, with whichever remarks there are.
Status Notes(const QStringList& remarks) {
    QStringList said;
    for (const QString& r : remarks) {
        if (!r.isEmpty()) said.append(r);
    }
    return said.isEmpty() ? Status::Ok() : Status::Note(said.join(QStringLiteral("; ")));
}

}  // namespace

qint64 OutputWorkingBytes(const BatchJob& job, qint64 pixels, int sourceDepth) {
    // Peaks measured on 50-megapixel photos, beyond the decoded picture.
    qint64 perPixel = 3;  // the encoders' output buffers
    switch (job.output) {
        case OutputOption::Jpg:
            perPixel = 2;
            break;
        case OutputOption::Tif:
            perPixel = 4;
            break;
        case OutputOption::Gif:
            perPixel = 20;  // ImageMagick's writer holds its own 16-bit copy
            break;
        default:
            break;
    }
    if (job.depth < 24 && job.output != OutputOption::Jpg) perPixel += 2;  // palette and indices
    if (sourceDepth <= 8) perPixel += 4;  // a palette picture raised to true colour
    if (job.resize.kind != ResizeTarget::Kind::None) perPixel += 4;  // the smaller copy
    return pixels * perPixel;
}

Status WatermarkFile(const BatchJob& job, const QString& sourcePath, const QString& targetPath,
                     const FileOptions& options) {
    QByteArray data;
    if (Status s = ReadPictureFile(sourcePath, &data); !s.ok()) return s;
    // The text with this file's name, number and metadata in its tokens.
    QString text = job.text;
    if (HasTokens(text)) {
        int orientation = 1;
        text = ExpandTokens(text, FileTokens({sourcePath, options.counter,
                                              ReadMetadata(data, &orientation), QSize()}));
    }
    Reservation memory;
    const DecodeGate admit = [&](const DecodeEstimate& e) {
        const qint64 pixels = static_cast<qint64>(e.width) * e.height;
        return memory.Acquire(options.budget,
                              e.workingBytes + OutputWorkingBytes(job, pixels, e.depth) +
                                  MarksWorkingBytes(job, text, QSize(e.width, e.height)));
    };
    QString wholeReason;  // why a JPEG asked to keep its blocks was wholly re-encoded
    const bool keepBlocks = job.losslessJpeg && job.output == OutputOption::Jpg;
    // A resized photo has no source blocks to keep.
    if (keepBlocks && job.resize.kind != ResizeTarget::Kind::None &&
        SniffKind(data, sourcePath) == FileKind::Jpeg)
        wholeReason = QStringLiteral("resized");
    if (job.output == OutputOption::Jpg && job.resize.kind == ResizeTarget::Kind::None &&
        !IsPhotoCdName(sourcePath)) {
        // JPEG to JPEG: the source's blocks kept where the marks leave
        // them, or else the picture re-encoded as it is decoded, a band of
        // rows at a time, never held whole.
        JpegRemark remark;
        const RegionMarks marks = JobMarks(job, text);
        // Row by row, a JPEG needs the band of rows under its marks.
        const DecodeGate rowsAdmit = [&](const DecodeEstimate& e) {
            const QSize size(e.width, e.height);
            const qint64 rows = (marks.footprint(size) & QRect(QPoint(0, 0), size)).height() + 16;
            return memory.Acquire(options.budget, e.workingBytes + 4 * rows * e.width +
                                                      MarksWorkingBytes(job, text, size));
        };
        if (Status s = keepBlocks ? RemarkJpegData(data, marks, job.keepMetadata, admit, &remark)
                                  : MarkJpegDataRows(data, marks, job.jpegQuality, job.keepMetadata,
                                                     rowsAdmit, &remark);
            !s.ok()) {
            return s;
        }
        if (!remark.file.isEmpty()) {
            if (Status s = WriteFileAtomically(targetPath, remark.file, options.deleteSource,
                                               options.replace);
                !s.ok()) {
                return s;
            }
            DeleteSourceIfDone(sourcePath, targetPath, options);
            return Notes({OmittedMarks(job, remark.Upright())});
        }
        if (keepBlocks) wholeReason = remark.wholeReason;
    }
    Picture loaded;
    const int resolution = IsPhotoCdName(sourcePath) ? job.photoCdResolution : kPhotoCdBase;
    if (Status s = DecodePicture(data, sourcePath, resolution, &loaded, admit, job.resize);
        !s.ok()) {
        return s;
    }
    data = QByteArray();
    Picbuf picture;
    picture.PasteClipboard(loaded);
    loaded = Picture();
    Status s;
    if (IsGifName(sourcePath)) {
        if (s = picture.IncreaseColors(24); !s.ok()) return s;
    }

    // Resized first, so that the marks are drawn crisp at the final size.
    const QSize full(picture.Xresolution(), picture.Yresolution());
    if (const QSize to = ResizedSize(job.resize, full); to != full) {
        if (s = picture.Resize(to); !s.ok()) return s;
    }
    DrawJobMarks(job, text, picture);
    const QString omitted = OmittedMarks(job, QSize(picture.Xresolution(), picture.Yresolution()));

    picture.ColourThreads = options.threads;
    const OutputFormat format = FormatFor(job.output);
    int depth = job.depth;
    picture.WriteCompression = 0;
    picture.ImageFormat = format.imageFormat;
    if (job.output == OutputOption::Jpg) {
        depth = 24;
        picture.WriteCompression = job.jpegQuality;
    }
    if (job.output == OutputOption::Webp) {
        depth = 24;  // WebP has no palette form
        picture.WriteCompression = job.jpegQuality;
        picture.WriteLossless = job.webpLossless;
    }
    if (depth > ComparableDepth(picture.ColorDepth())) {
        if (s = picture.IncreaseColors(depth); !s.ok()) return s;
    }
    if (depth < ComparableDepth(picture.ColorDepth())) {
        if (depth == 8) s = picture.ReduceColors(256, true, true, true);
        if (depth == 4) s = picture.ReduceColors(16, true, true, true);
        if (!s.ok()) return s;
    }
    picture.FileName = targetPath;
    // A source is deleted only once its result would survive a crash.
    picture.SyncToDisk = options.deleteSource;
    picture.ReplaceExisting = options.replace;
    picture.KeepMetadata = job.keepMetadata;
    Lead lead;
    lead.SyncToDisk = options.deleteSource;
    lead.ReplaceExisting = options.replace;
    s = format.viaLead ? SaveThroughLead(targetPath, picture, lead) : picture.Store();
    if (!s.ok()) return s;

    DeleteSourceIfDone(sourcePath, targetPath, options);
    return Notes(
        {wholeReason.isEmpty() ? QString() : messages::WhollyReencoded(wholeReason), omitted});
}

}  // namespace velda
