#include "batch/watermark_file.h"

#include <QFile>
#include <QFileInfo>

#include "batch/file_plan.h"
#include "batch/messages.h"
#include "batch/tokens.h"
#include "imaging/colour.h"
#include "imaging/loaders.h"
#include "imaging/picture_io.h"
#include "imaging/resize.h"

namespace velda {

namespace {

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

Status WatermarkFile(const BatchJob& job, const QString& sourcePath, const QString& targetPath,
                     const FileOptions& options) {
    QByteArray data;
    if (Status s = ReadPictureFile(sourcePath, &data); !s.ok()) return s;
    SourceInfo source = ProbeSource(std::move(data), sourcePath, job.photoCdResolution);
    if (!source.headerStatus.ok()) return source.headerStatus;
    // The text with this file's name, number and metadata in its tokens.
    const FileFacts facts{sourcePath, options.counter, source.metadata, QSize()};
    const QString text = ExpandFileTokens(job.text, facts);
    const RegionMarks marks = JobMarks(job, text);
    // What of the source's metadata the result carries, and its rights.
    MetadataPolicy policy = job.metadataPolicy;
    for (QString* t : {&policy.creator, &policy.copyright, &policy.rightsUrl})
        *t = ExpandFileTokens(*t, facts);
    bool keepMetadata = job.keepMetadata || policy.WritesRights();
    const MetadataPtr original = source.metadata;
    source.metadata = ApplyMetadataPolicy(job.keepMetadata ? original : nullptr, policy);

    // A signature over the pixels before the marks would no longer match.
    const QString credentials =
        HasContentCredentials(source.data) ? messages::kCredentialsRemoved : QString();

    FilePlan plan = PlanFile(job, source, text, marks);
    if (plan.route == FilePlan::Route::KeepBlocks && !keepMetadata && source.orientation != 1) {
        // Blocks kept in their stored frame are seen upright only through
        // their orientation, which stripping must not take.
        MetadataPolicy none;
        none.keep = MetadataPolicy::Keep::None;
        source.metadata = ApplyMetadataPolicy(original, none);
        keepMetadata = source.metadata != nullptr;
    }
    Reservation memory;
    if (plan.route != FilePlan::Route::Whole) {
        if (Status s = memory.Acquire(options.budget, plan.reserveBytes); !s.ok()) return s;
        JpegRemark remark;
        if (Status s =
                plan.route == FilePlan::Route::KeepBlocks
                    ? RemarkJpegSource(source, marks, keepMetadata, {}, &remark)
                    : MarkJpegSourceRows(source, marks, job.jpegQuality, keepMetadata, {}, &remark);
            !s.ok()) {
            return s;
        }
        // Blocks kept at their quality that do not fit the size asked for
        // are encoded anew at a quality that does.
        if (job.maxBytes > 0 && remark.file.size() > job.maxBytes) {
            remark.file.clear();
            remark.wholeReason = QStringLiteral("over MaxBytes");
        }
        if (!remark.file.isEmpty()) {
            // Only the result is held while it is written.
            source = SourceInfo();
            if (Status s = WriteFileAtomically(targetPath, remark.file, options.deleteSource,
                                               options.replace);
                !s.ok()) {
                return s;
            }
            DeleteSourceIfDone(sourcePath, targetPath, options);
            return Notes({credentials, OmittedMarks(job, remark.Upright())});
        }
        plan =
            PlanWhole(job, source, text,
                      plan.route == FilePlan::Route::KeepBlocks ? remark.wholeReason : QString());
    }
    if (!source.formatInfo().readable()) return Status::Error(ErrorCode::NotAPicture);
    if (Status s = memory.Acquire(options.budget, plan.reserveBytes); !s.ok()) return s;
    Picture picture;
    // Resized as it is decoded, so that the marks are drawn crisp at the
    // final size.
    if (Status s = DecodeSource(source, &picture, {}, plan.resized, job.resizeFilter); !s.ok())
        return s;
    source.data = QByteArray();  // the file's bytes are not held while it is marked and written
    if (job.toSrgb) {
        if (Status s = ConvertToSrgb(&picture); !s.ok()) return s;
    }
    if (Status s = SharpenPicture(&picture, job.sharpen); !s.ok()) return s;
    // GIF sources are worked on in true colour, as the classic batch did.
    if (source.format == FormatId::Gif) {
        if (Status s = ToTrueColour(&picture); !s.ok()) return s;
    }
    if (Status s = DrawJobMarks(job, text, &picture); !s.ok()) return s;
    const QString omitted = OmittedMarks(job, picture.image.size());

    WriteOptions write;
    write.depth = plan.depth;
    write.quality = job.jpegQuality;
    write.lossless = job.webpLossless;
    write.keepMetadata = keepMetadata;
    // A source is deleted only once its result would survive a crash.
    write.durable = options.deleteSource;
    write.replace = options.replace;
    write.threads = options.threads;
    write.maxBytes = job.maxBytes;
    WriteResult written;
    if (Status s = WritePicture(picture, *plan.output, targetPath, write, &written); !s.ok())
        return s;

    DeleteSourceIfDone(sourcePath, targetPath, options);
    QString budget;
    if (job.maxBytes > 0 && plan.output->takesQuality && !write.lossless)
        budget = written.overBudget ? messages::OverBudget(written.bytes, job.maxBytes)
                                    : messages::QualityForBudget(written.quality, job.maxBytes);
    return Notes(
        {plan.wholeReason.isEmpty() ? QString() : messages::WhollyReencoded(plan.wholeReason),
         budget, credentials, omitted});
}

}  // namespace velda
