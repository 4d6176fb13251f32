#include "imaging/loaders.h"

#include <QFileInfo>

#include "base/file_access.h"
#include "imaging/picture_io.h"

namespace velda {

namespace {

// Loads a watermark or template picture into target and raises it to 24
// bits: a palette mask or watermark could not carry blended colours.
LoadOutcome LoadTrueColour(const QString& fileName, Picbuf& target, Status* status) {
    if (!FileExists(fileName)) {
        target.ClearPicture();
        // A pipe or device is named as what it is, never waited on.
        if (!fileName.isEmpty() && QFileInfo::exists(fileName)) {
            *status = Status::Error(ErrorCode::NotRegularFile, fileName);
            return LoadOutcome::Failed;
        }
        *status = Status::Error(ErrorCode::FileNotFound, fileName);
        return LoadOutcome::Missing;
    }
    // Read by its contents, whatever its name says: the LEAD control reads
    // every format as the buffer does, so one way serves them all.
    target.WriteCompression = 0;
    target.ImageFormat = 0;
    target.FileName = fileName;
    Status s = target.LoadFile();
    if (s.ok() && target.ColorDepth() < 24) s = target.IncreaseColors(24);
    *status = s;
    return s.ok() ? LoadOutcome::Loaded : LoadOutcome::Failed;
}

}  // namespace

int PhotoCdResolutionFromText(const QString& text, int current) {
    const QString t = text.trimmed();
    if (t == u"Base/16") return 1;
    if (t == u"Base/4") return 2;
    if (t == u"Base") return 3;
    if (t == u"Base*4") return 4;
    if (t == u"Base*16") return 5;
    return current;
}

Status LoadThroughLead(const QString& fileName, Picbuf& target, Lead& lead) {
    Status s = lead.LoadImage(fileName, 0, 0, 1);
    if (s.ok()) target.PasteClipboard(lead.CopyToClipboard(2));
    lead.ClearBitmap();
    return s;
}

Status LoadPhotoCdFile(const QString& fileName, Picbuf& target, Lead& lead,
                       const QString& pcdbaseText) {
    lead.PhotoCdResolution = PhotoCdResolutionFromText(pcdbaseText, lead.PhotoCdResolution);
    return LoadThroughLead(fileName, target, lead);
}

Status SaveThroughLead(const QString& fileName, const Picbuf& source, Lead& lead) {
    lead.Paste(source.CopyClipboard(), 1);
    const Status s = lead.Save(fileName, kLeadFormatGif, 8, 11, false);
    lead.ClearBitmap();
    return s;
}

Status MakeUniformMask(Picbuf& mask, const Picbuf& watermark, int mixLevel) {
    const int g = std::clamp(mixLevel, 0, 255);
    return mask.CreatePicture(24, watermark.Xresolution(), watermark.Yresolution(), qRgb(g, g, g));
}

LoadOutcome LoadWatermarkPicture(const QString& fileName, Picbuf& watermark, Picbuf& mask,
                                 int mixLevel, Status* status) {
    const LoadOutcome outcome = LoadTrueColour(fileName, watermark, status);
    if (outcome == LoadOutcome::Loaded) *status = MakeUniformMask(mask, watermark, mixLevel);
    return outcome;
}

LoadOutcome LoadTemplatePicture(const QString& fileName, Picbuf& mask, Status* status) {
    return LoadTrueColour(fileName, mask, status);
}

}  // namespace velda
