#pragma once

#include <QString>
#include <atomic>
#include <vector>

#include "batch/batch_job.h"
#include "batch/memory_budget.h"
#include "batch/output_names.h"
#include "imaging/status.h"

namespace velda {

// How one file of a run is written.
struct FileOptions {
    // Remove the source once its result is wholly on disk (and never when
    // it is the result itself).
    bool deleteSource = false;
    // The result may replace a file that has its name.
    bool replace = true;
    // Admits the decode; null: no budget.
    MemoryBudget* budget = nullptr;
    // Set while the file is in progress: delete nothing more (the run was
    // abandoned).
    const std::atomic<bool>* keepSources = nullptr;
    // Threads the file's own work may use (colour reduction); 0: every core.
    int threads = 0;
    // The file's place in the run, from 1 ({counter} of the text).
    int counter = 1;
    // Where the job's further results go, one for each of its extras in
    // order (empty: that one is not written, its name taken); the source is
    // read once for all, and deleted only once every one is on disk.
    std::vector<QString> extraTargets;
    std::vector<bool> extraReplace;  // whether each may replace a file of its name
};

// Watermarks and converts one picture: loads sourcePath, blends the job's
// watermark, draws its text, brings the picture to the job's depth and
// format, and writes targetPath. Never shows anything; the status says why
// a file failed (TargetExists when replace is off and the name was taken).
// With the job's losslessJpeg, a JPEG written from a JPEG keeps the
// source's blocks outside the marks; one that cannot is wholly re-encoded
// and the status, still ok, notes why in one word.
Status WatermarkFile(const BatchJob& job, const QString& sourcePath, const QString& targetPath,
                     const FileOptions& options);
inline Status WatermarkFile(const BatchJob& job, const QString& sourcePath,
                            const QString& targetPath, bool deleteSource) {
    FileOptions options;
    options.deleteSource = deleteSource;
    return WatermarkFile(job, sourcePath, targetPath, options);
}

}  // namespace velda
