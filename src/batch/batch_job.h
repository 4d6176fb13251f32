#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "batch/tokens.h"
#include "imaging/codec.h"
#include "imaging/compositing.h"
#include "imaging/invisible_mark.h"
#include "imaging/jpeg_remark.h"
#include "imaging/mark_layout.h"
#include "imaging/mark_stack.h"
#include "imaging/picbuf.h"
#include "imaging/resize.h"
#include "imaging/status.h"
#include "imaging/text.h"
#include "settings/job_settings.h"

namespace velda {

// A further result of each source ([Output2] ... [Output8]).
struct ExtraResult {
    int number = 2;
    std::optional<FormatId> format;  // none: the run's
    std::optional<int> quality;      // none: the run's
    ResizeTarget resize;
    ResizeFilter resizeFilter = ResizeFilter::Lanczos3;
    Sharpening sharpen = Sharpening::None;
    QString nameTemplate;  // empty: the source's name
    qint64 maxBytes = 0;
    QString folder;  // inside the output folder; empty: the output folder
};

// Everything the per-file pipeline reads, taken once when a run starts and
// read-only while it runs: workers never see a half-changed setting.
struct BatchJob {
    Picture watermark;  // empty: no watermark picture
    Picture mask;       // template, or the uniform grey mask
    WatermarkPlacement placement;
    QString text;  // trimmed
    int textX = 0, textY = 0, textSize = 0;
    TextStyle textStyle;
    FormatId output = FormatId::Jpeg;      // the results' format
    int depth = 24;                        // 24, 8 or 4, as the format holds it (see ToWritable)
    int jpegQuality = 75;                  // jpegval
    int photoCdResolution = kPhotoCdBase;  // 1 Base/16 ... 5 Base*16
    bool keepMetadata = true;              // results carry their sources' photo metadata
    bool losslessJpeg = false;  // JPEG to JPEG re-encodes only the blocks under the marks
    bool webpLossless = false;  // WebP results are lossless
    ResizeTarget resize;        // results brought down to this size before the marks
    ResizeFilter resizeFilter = ResizeFilter::Lanczos3;
    Sharpening sharpen = Sharpening::None;  // after the resize, before the marks
    bool toSrgb = false;  // colours brought from the source's profile to sRGB before the marks
    qint64 maxBytes = 0;  // results with a quality kept under this size; 0: any size
    // What the results' metadata keeps; the rights texts with their tokens.
    MetadataPolicy metadataPolicy;
    QString nameTemplate;             // result names from tokens; empty: the source's name
    std::vector<ExtraResult> extras;  // further results of each source
    MarkLayout layout;                // relative size, anchors, tiles, text effects
    // The watermark as scaled for each picture size met; PrepareMarks
    // shares it across the run's files.
    std::shared_ptr<const MarkPictures> markPictures;
    // The further marks, drawn in this order after the watermark and text;
    // their files, named in markFiles, are loaded by LoadStackMarkFiles.
    std::vector<StackMark> stack;
    std::vector<QString> markFiles;
    // The mark that cannot be seen, added last to every result.
    std::optional<InvisiblePayload> invisible;
    int invisibleStrength = kDefaultInvisibleStrength;
};

// The placement and text of a job as the control panel's settings give
// them: positions read as leading numbers, text numbers rounded half to
// even into 16 bits, units from the option pairs.
void ApplyPanelSettings(const WatermarkSettings& settings, BatchJob* job);

// The job that settings describe: placement, text, layout, resize and
// names, metadata and JPEG switches. The one way from settings to a job,
// for the windows and velda-batch alike, so that one velda.ini gives one
// result in both; the format, depth and pictures are the caller's.
void JobFromSettings(const JobSettings& settings, BatchJob* job);

// Why the further results' sections cannot be run (a format that is not
// written, named by its key), or nothing.
QString ExtraResultsProblem(const JobSettings& settings);

// Why the job's results cannot carry its invisible mark (a palette, in the
// results' format or depth), or nothing.
QString InvisibleProblem(const BatchJob& job);

// The layout that a "Marks" section gives.
MarkLayout MarkLayoutFrom(const MarksSettings& marks);

// Makes the job's scaled watermark pictures shareable by all its files;
// call once the watermark, mask and layout are final.
void PrepareMarks(BatchJob* job);

// Draws the job's text once on a thread that is about to mark pictures:
// the font and its glyphs are loaded and cached (per thread) now, in memory
// below the pictures', rather than in the middle of the first picture,
// where they would stay above its freed memory and make the next large
// picture grow the heap.
void WarmUpMarks(const BatchJob& job);

// The job's watermark and text as marks that can be drawn into any part of
// a picture, exactly as WatermarkFile draws them into the whole; text is
// the line to draw (the job's, with its tokens filled in).
RegionMarks JobMarks(const BatchJob& job, const QString& text);
inline RegionMarks JobMarks(const BatchJob& job) {
    return JobMarks(job, job.text);
}

// Draws the job's marks with this text into the whole picture, as a batch
// does for each file: the one renderer of every mark, the JPEG routes
// drawing the same marks into parts of a picture. A picture that gets
// marks is true colour from then on.
[[nodiscard]] Status DrawJobMarks(const BatchJob& job, const QString& text, Picture* picture);
void DrawJobMarks(const BatchJob& job, const QString& text, Picbuf& picture);

// The memory the marks need beyond the picture while they are drawn on one
// of this size (a text's shadow), for the run's memory budget.
qint64 MarksWorkingBytes(const BatchJob& job, const QString& text, QSize picture);

// Why a mark is left out of a picture of this size (too small once scaled
// to it), or nothing.
QString OmittedMarks(const BatchJob& job, QSize picture);

// Loads the pictures the further marks name. A file that is missing or
// cannot be read fails with a message naming its section; with dropFailed
// (a preview) its mark is left out instead, and the message says why.
Status LoadStackMarkFiles(BatchJob* job, QString* message, bool dropFailed = false);

// The job with its further marks' texts filled in from one file's facts,
// or nothing when no such text has tokens (the job serves as it is).
std::optional<BatchJob> WithStackTokens(const BatchJob& job, const FileFacts& facts);

// Loads the watermark and template that the settings name into the job.
// A named file that is missing or cannot be read fails with the loader's
// message; nothing named loads nothing.
Status LoadJobPictures(const WatermarkSettings& settings, BatchJob* job, QString* message);

}  // namespace velda
