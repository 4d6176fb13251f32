#include "batch/watermark_file.h"

#include <QFile>
#include <QFileInfo>

#include "imaging/loaders.h"

namespace velda {

namespace {

// Where depths are compared, 32 (colour with alpha) counts as 24.
int ComparableDepth(int depth) {
    return depth == 32 ? 24 : depth;
}

}  // namespace

QString OutputName(const QString& fileName, const QString& extension) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return (dot < 0 ? fileName : fileName.left(dot)) + extension;
}

Status WatermarkFile(const BatchJob& job, const QString& sourcePath, const QString& targetPath,
                     bool deleteSource) {
    Picbuf picture;
    Lead lead;
    Status s;
    if (IsPhotoCdName(sourcePath)) {
        s = LoadPhotoCdFile(sourcePath, picture, lead, job.pcdbase);
    } else if (IsGifName(sourcePath)) {
        s = LoadThroughLead(sourcePath, picture, lead);
        if (s.ok()) s = picture.IncreaseColors(24);
    } else {
        picture.FileName = sourcePath;
        s = picture.LoadFile();
    }
    if (!s.ok()) return s;

    // Each file gets its own copies of the watermark and mask: placing them
    // sets their origins, and other files are being placed at the same time.
    Picbuf watermark = job.watermark;
    Picbuf mask = job.mask;
    ApplyImageWatermark(picture, watermark, mask, job.placement);
    DrawTextWatermark(picture, job.text, job.textX, job.textY, job.textSize, picture.Xresolution(),
                      picture.Yresolution(), job.textStyle);

    const OutputFormat format = FormatFor(job.output);
    int depth = job.depth;
    picture.WriteCompression = 0;
    picture.ImageFormat = format.imageFormat;
    if (job.output == OutputOption::Jpg) {
        depth = 24;
        picture.WriteCompression = job.jpegQuality;
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
    picture.SyncToDisk = deleteSource;
    picture.KeepMetadata = job.keepMetadata;
    lead.SyncToDisk = deleteSource;
    s = format.viaLead ? SaveThroughLead(targetPath, picture, lead) : picture.Store();
    if (!s.ok()) return s;

    if (deleteSource) {
        const QString source = QFileInfo(sourcePath).canonicalFilePath();
        if (!source.isEmpty() && source != QFileInfo(targetPath).canonicalFilePath()) {
            QFile::remove(sourcePath);  // a failure to delete is not the file's failure
        }
    }
    return Status::Ok();
}

}  // namespace velda
