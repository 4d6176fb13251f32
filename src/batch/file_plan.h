#pragma once

#include <QSize>
#include <QString>

#include "batch/batch_job.h"
#include "imaging/picture_io.h"

namespace velda {

// Everything decided about one file before any of its pixels is touched,
// from the job and the probed source alone.
struct FilePlan {
    enum class Route {
        KeepBlocks,  // JPEG to JPEG: the source's blocks kept outside the marks
        Rows,        // JPEG to JPEG: decoded, marked and encoded a band of rows at a time
        Whole,       // decoded whole, marked, converted and encoded
    };
    Route route = Route::Whole;
    // Why a JPEG whose blocks were to be kept is decoded whole, in one word.
    QString wholeReason;
    // The size the picture ends at before its marks (none: as it is).
    QSize resized;
    // The memory the route needs at its peak, reserved from the run's
    // budget before the file is decoded.
    qint64 reserveBytes = 0;
    // The results' format and depth, as the format holds it.
    const FormatInfo* output = nullptr;
    int depth = 24;
};

// Memory the steps after decoding take at their peak for a picture of this
// many pixels and bits per pixel: marks, colour reduction, encoding.
qint64 OutputWorkingBytes(const BatchJob& job, qint64 pixels, int sourceDepth);

// The plan for a source whose header was read; text is the file's line
// with its tokens filled in, marks the job's marks with it. A route that
// turns out impossible once the blocks are read (a CMYK JPEG, say) is
// replanned Whole with the reason.
FilePlan PlanFile(const BatchJob& job, const SourceInfo& source, const QString& text,
                  const RegionMarks& marks);
inline FilePlan PlanFile(const BatchJob& job, const SourceInfo& source, const QString& text) {
    return PlanFile(job, source, text, JobMarks(job, text));
}
FilePlan PlanWhole(const BatchJob& job, const SourceInfo& source, const QString& text,
                   const QString& reason = QString());

}  // namespace velda
