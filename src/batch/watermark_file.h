#pragma once

#include <QString>

#include "batch/batch_job.h"
#include "imaging/status.h"

namespace velda {

// The output file name for a source name: the text after the last dot is
// replaced by the extension (".jpg"), or the extension is appended to a
// name without a dot.
QString OutputName(const QString& fileName, const QString& extension);

// Watermarks and converts one picture: loads sourcePath, blends the job's
// watermark, draws its text, brings the picture to the job's depth and
// format, and writes targetPath. With deleteSource the source is removed
// once the result is wholly on disk, and never when it is the result.
// Never shows anything; the status says why a file failed.
Status WatermarkFile(const BatchJob& job, const QString& sourcePath, const QString& targetPath,
                     bool deleteSource);

}  // namespace velda
