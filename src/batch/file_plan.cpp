#include "batch/file_plan.h"

#include "imaging/colour.h"
#include "imaging/resize.h"

namespace velda {

qint64 OutputWorkingBytes(const BatchJob& job, qint64 pixels, int sourceDepth) {
    // Peaks measured on 50-megapixel photos, beyond the decoded picture.
    const FormatInfo& output = Format(job.output);
    const bool lossless = (job.webpLossless && output.id == FormatId::Webp) ||
                          (output.losslessAtTop && job.jpegQuality >= 100);
    qint64 perPixel = lossless && output.losslessEncodeBytesPerPixel > 0
                          ? output.losslessEncodeBytesPerPixel
                          : output.encodeBytesPerPixel;
    if (job.depth < 24 && output.writes(job.depth)) perPixel += 2;  // palette and indices
    if (sourceDepth <= 8) perPixel += 4;  // a palette picture raised to true colour
    if (job.resize.kind != ResizeTarget::Kind::None) perPixel += 4;  // the smaller copy
    if (job.sharpen != Sharpening::None) perPixel += 4;              // the sharpened copy
    return pixels * perPixel;
}

FilePlan PlanWhole(const BatchJob& job, const SourceInfo& source, const QString& text,
                   const QString& reason) {
    FilePlan plan;
    plan.route = FilePlan::Route::Whole;
    plan.wholeReason = reason;
    plan.output = &Format(job.output);
    plan.depth = WritableDepth(*plan.output, job.depth);
    const HeaderInfo& h = source.header;
    const QSize stored(h.width, h.height);
    const qint64 pixels = static_cast<qint64>(h.width) * h.height;
    if (const QSize to = ResizedSize(job.resize, source.Upright()); to != source.Upright())
        plan.resized = to;
    plan.reserveBytes = DecodeWorkingBytes(source.format, h, source.data.size()) +
                        OutputWorkingBytes(job, pixels, h.depth) +
                        MarksWorkingBytes(job, text, stored) +
                        (job.invisible ? InvisibleWorkingBytes(stored) : 0);
    return plan;
}

FilePlan PlanFile(const BatchJob& job, const SourceInfo& source, const QString& text,
                  const RegionMarks& marks) {
    const bool jpegToJpeg = source.format == FormatId::Jpeg && job.output == FormatId::Jpeg;
    const bool keepBlocks = jpegToJpeg && job.losslessJpeg;
    const bool resized = job.resize.kind != ResizeTarget::Kind::None;
    // Colours to be converted are not those of the source's blocks.
    const QByteArray icc = IccProfileOf(source.metadata.get());
    if (jpegToJpeg && job.toSrgb && !icc.isEmpty() && !IsSrgbProfile(icc))
        return PlanWhole(job, source, text, keepBlocks ? QStringLiteral("sRGB") : QString());
    // A resized photo has no source blocks to keep; a turned one is not
    // read row by row in the frame its marks are drawn in, nor one whose
    // quality may have to be lowered to fit a size.
    // An invisible mark changes every block.
    if (job.invisible)
        return PlanWhole(job, source, text,
                         keepBlocks ? QStringLiteral("invisible mark") : QString());
    if (!jpegToJpeg || resized || (!keepBlocks && (source.orientation != 1 || job.maxBytes > 0)))
        return PlanWhole(job, source, text,
                         keepBlocks && resized ? QStringLiteral("resized") : QString());
    FilePlan plan;
    plan.output = &Format(FormatId::Jpeg);
    const HeaderInfo& h = source.header;
    const QSize stored(h.width, h.height);
    const qint64 pixels = static_cast<qint64>(h.width) * h.height;
    // Every block's coefficients when they are all held (as they are for a
    // progressive source too): at most three samples a pixel, two bytes each.
    const qint64 coefficients = keepBlocks || h.scans > 1 ? 6 * pixels : 0;
    const qint64 marksBytes = MarksWorkingBytes(job, text, stored);
    if (keepBlocks) {
        plan.route = FilePlan::Route::KeepBlocks;
        plan.reserveBytes = 2 * source.data.size() + coefficients +
                            OutputWorkingBytes(job, pixels, h.depth) + marksBytes;
    } else {
        // Row by row, a JPEG needs the band of rows under its marks.
        plan.route = FilePlan::Route::Rows;
        const qint64 rows = (marks.footprint(stored) & QRect(QPoint(0, 0), stored)).height() + 16;
        plan.reserveBytes = 2 * source.data.size() + coefficients + 4 * rows * h.width + marksBytes;
    }
    return plan;
}

}  // namespace velda
