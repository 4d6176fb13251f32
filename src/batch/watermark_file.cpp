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

// One result written the whole way: decoded at its size (or taken from
// the picture decoded for an earlier result of the same size), converted,
// sharpened, marked, and written.
struct WholeResult {
    const BatchJob& job;
    const FilePlan& plan;
    QString target;
    bool replace = true;
    bool keepMetadata = true;
};

// A source's picture as decoded, before any resize, kept for the further
// results that need the same decode (every result of a PNG, say, or those
// of a JPEG at one DCT scale).
struct Decoded {
    QSize size;  // DecodedSizeFor
    Picture picture;
    bool valid = false;
};

Status WriteWholeResult(const WholeResult& r, SourceInfo& source, const QString& text,
                        const FileOptions& options, bool lastUse, Decoded* decoded,
                        QStringList* notes) {
    const BatchJob& job = r.job;
    Picture picture;
    // Resized as it is decoded, so that the marks are drawn crisp at the
    // final size.
    const QSize decodeSize = DecodedSizeFor(source, r.plan.resized, job.resizeFilter);
    if (decoded->valid && decoded->size == decodeSize) {
        picture = decoded->picture;
    } else {
        if (Status s = DecodeUnresized(source, &picture, {}, r.plan.resized, job.resizeFilter);
            !s.ok())
            return s;
        *decoded = Decoded{decodeSize, picture, !lastUse};
    }
    if (lastUse) *decoded = Decoded();
    if (Status s = ResizeDecoded(source, &picture, r.plan.resized, job.resizeFilter); !s.ok())
        return s;
    // The file's bytes are not held while it is marked and written.
    if (lastUse) source.data = QByteArray();
    if (job.toSrgb) {
        if (Status s = ConvertToSrgb(&picture); !s.ok()) return s;
    }
    if (Status s = SharpenPicture(&picture, job.sharpen); !s.ok()) return s;
    // GIF sources are worked on in true colour, as the classic batch did.
    if (source.format == FormatId::Gif) {
        if (Status s = ToTrueColour(&picture); !s.ok()) return s;
    }
    if (Status s = DrawJobMarks(job, text, &picture); !s.ok()) return s;
    // Last, over the visible marks, so that nothing drawn after it hides it.
    if (job.invisible) {
        if (Status s = EmbedInvisible(&picture, *job.invisible, job.invisibleStrength); !s.ok())
            return s;
    }
    const QString omitted = OmittedMarks(job, picture.image.size());

    WriteOptions write;
    write.depth = r.plan.depth;
    write.quality = job.jpegQuality;
    write.lossless = job.webpLossless;
    write.keepMetadata = r.keepMetadata;
    // A source is deleted only once its result would survive a crash.
    write.durable = options.deleteSource;
    write.replace = r.replace;
    write.threads = options.threads;
    write.maxBytes = job.maxBytes;
    WriteResult written;
    if (Status s = WritePicture(picture, *r.plan.output, r.target, write, &written); !s.ok())
        return s;
    if (job.maxBytes > 0 && r.plan.output->takesQuality && !write.lossless)
        notes->append(written.overBudget
                          ? messages::OverBudget(written.bytes, job.maxBytes)
                          : messages::QualityForBudget(written.quality, job.maxBytes));
    notes->append(omitted);
    return Status::Ok();
}

// The picture kept decoded for further results, at most.
qint64 KeptDecodeBytes(const SourceInfo& source) {
    return 4 * static_cast<qint64>(source.header.width) * source.header.height;
}

// The job as one of its further results asks for it.
BatchJob ExtraJob(const BatchJob& job, const ExtraResult& extra) {
    BatchJob j = job;
    j.extras.clear();
    j.output = extra.format.value_or(job.output);
    j.depth = WritableDepth(Format(j.output), job.depth);
    j.jpegQuality = extra.quality.value_or(job.jpegQuality);
    j.resize = extra.resize;
    j.resizeFilter = extra.resizeFilter;
    j.sharpen = extra.sharpen;
    j.maxBytes = extra.maxBytes;
    j.nameTemplate = extra.nameTemplate;
    return j;
}

// Each further result of the source the run claimed a name for, in number
// order; their remarks are named by their section.
Status WriteExtraResults(const BatchJob& job, SourceInfo& source, const QString& text,
                         const FileOptions& options, bool keepMetadata, Decoded* decoded,
                         Reservation* memory, QStringList* notes) {
    for (size_t i = 0; i < job.extras.size() && i < options.extraTargets.size(); ++i) {
        if (options.extraTargets[i].isEmpty()) continue;  // its name was taken
        const BatchJob extra = ExtraJob(job, job.extras[i]);
        const FilePlan plan = PlanWhole(extra, source, text);
        if (Status s = memory->Acquire(options.budget, plan.reserveBytes + KeptDecodeBytes(source));
            !s.ok())
            return s;
        bool last = true;
        for (size_t k = i + 1; k < job.extras.size() && k < options.extraTargets.size(); ++k)
            last = last && options.extraTargets[k].isEmpty();
        QStringList said;
        const bool replace =
            i < options.extraReplace.size() ? options.extraReplace[i] : options.replace;
        const WholeResult r{extra, plan, options.extraTargets[i], replace, keepMetadata};
        if (Status s = WriteWholeResult(r, source, text, options, last, decoded, &said); !s.ok())
            return Status::Error(
                s.code(), ExtraOutputName(job.extras[i].number) + QStringLiteral(": ") + s.text());
        for (const QString& n : said) {
            if (!n.isEmpty())
                notes->append(ExtraOutputName(job.extras[i].number) + QStringLiteral(": ") + n);
        }
    }
    return Status::Ok();
}

}  // namespace

Status WatermarkFile(const BatchJob& runJob, const QString& sourcePath, const QString& targetPath,
                     const FileOptions& options) {
    QByteArray data;
    if (Status s = ReadPictureFile(sourcePath, &data); !s.ok()) return s;
    SourceInfo source = ProbeSource(std::move(data), sourcePath, runJob.photoCdResolution);
    if (!source.headerStatus.ok()) return source.headerStatus;
    // The texts with this file's name, number and metadata in their tokens.
    const FileFacts facts{sourcePath, options.counter, source.metadata, QSize()};
    const std::optional<BatchJob> filled = WithStackTokens(runJob, facts);
    const BatchJob& job = filled ? *filled : runJob;
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
    bool hasExtras = false;
    for (const QString& t : options.extraTargets)
        hasExtras = hasExtras || !t.isEmpty();
    Decoded decoded;
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
            // Only the result is held while it is written, unless further
            // results are still to be made from the source.
            if (!hasExtras) source = SourceInfo();
            if (Status s = WriteFileAtomically(targetPath, remark.file, options.deleteSource,
                                               options.replace);
                !s.ok()) {
                return s;
            }
            QStringList notes = {OmittedMarks(job, remark.Upright())};
            remark = JpegRemark();
            if (Status s = WriteExtraResults(job, source, text, options, keepMetadata, &decoded,
                                             &memory, &notes);
                !s.ok())
                return s;
            DeleteSourceIfDone(sourcePath, targetPath, options);
            notes.prepend(credentials);
            return Notes(notes);
        }
        plan =
            PlanWhole(job, source, text,
                      plan.route == FilePlan::Route::KeepBlocks ? remark.wholeReason : QString());
    }
    if (!source.formatInfo().readable()) return Status::Error(ErrorCode::NotAPicture);
    // With further results, the decoded picture is kept while this one is made.
    if (hasExtras) plan.reserveBytes += KeptDecodeBytes(source);
    if (Status s = memory.Acquire(options.budget, plan.reserveBytes); !s.ok()) return s;
    QStringList notes = {plan.wholeReason.isEmpty() ? QString()
                                                    : messages::WhollyReencoded(plan.wholeReason)};
    WholeResult main{job, plan, targetPath, options.replace, keepMetadata};
    if (Status s = WriteWholeResult(main, source, text, options, !hasExtras, &decoded, &notes);
        !s.ok())
        return s;
    if (Status s =
            WriteExtraResults(job, source, text, options, keepMetadata, &decoded, &memory, &notes);
        !s.ok())
        return s;
    DeleteSourceIfDone(sourcePath, targetPath, options);
    notes.insert(1, credentials);
    return Notes(notes);
}

}  // namespace velda
