#include "batch/batch_job.h"

#include "batch/messages.h"
#include "imaging/loaders.h"
#include "imaging/picture_io.h"
#include "settings/numbers.h"

namespace velda {

OutputFormat FormatFor(OutputOption option) {
    static const int codes[] = {kFormatTarga, kFormatTiff, kFormatPcx,
                                kFormatBmp,   kFormatGif,  kFormatJpeg};
    const int code = codes[static_cast<int>(option)];
    return {code, ExtensionForFormat(code), option == OutputOption::Gif};
}

void ApplyPanelSettings(const WatermarkSettings& s, BatchJob* job) {
    job->placement.centre = s.CentreWatermark == 1;
    job->placement.percent = s.ImagePercent.value_or(false);
    job->placement.x = LeadingNumber(s.wx);
    job->placement.y = LeadingNumber(s.wy);
    job->text = s.Text.trimmed();
    job->textX = RoundToInt16Clamped(LeadingNumber(s.tx));
    job->textY = RoundToInt16Clamped(LeadingNumber(s.ty));
    job->textSize = RoundToInt16Clamped(LeadingNumber(s.ts));
    // Pixels only when the pixel option is selected: on a fresh panel
    // neither is, and the text position then counts as percent.
    job->textStyle.pixels = s.TextPercent.has_value() && !*s.TextPercent;
    job->textStyle.colour = s.Textclr;
    job->textStyle.font = s.tfont;
    job->jpegQuality = s.JPEGValue;
}

Status LoadJobPictures(const WatermarkSettings& s, BatchJob* job, QString* message) {
    Lead lead;
    Status status;
    const QString wm = s.WaterMarkFile.trimmed();
    if (!wm.isEmpty() && LoadWatermarkPicture(wm, job->watermark, job->mask, s.MixValue, lead,
                                              &status) != LoadOutcome::Loaded) {
        *message = messages::WatermarkLoadError(wm, status);
        return status;
    }
    const QString tmpl = s.TemplateFile.trimmed();
    if (!tmpl.isEmpty() &&
        LoadTemplatePicture(tmpl, job->mask, lead, &status) != LoadOutcome::Loaded) {
        *message = messages::TemplateLoadError(tmpl, status);
        return status;
    }
    return Status::Ok();
}

}  // namespace velda
