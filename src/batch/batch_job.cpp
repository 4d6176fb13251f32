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

RegionMarks JobMarks(const BatchJob& job) {
    const QImage watermark = job.watermark.HasPicture() ? job.watermark.image() : QImage();
    const QImage mask = job.mask.HasPicture() ? job.mask.image() : QImage();
    const bool blend = !watermark.isNull() && !mask.isNull();
    const WatermarkPlacement placement = job.placement;
    const QString text = job.text;
    const int x = job.textX, y = job.textY, size = job.textSize;
    const TextStyle style = job.textStyle;
    auto offset = [=](QSize picture) {
        double ox = 0, oy = 0;
        PlacementOffset(placement, picture.width(), picture.height(), watermark.width(),
                        watermark.height(), &ox, &oy);
        return QPointF(ox, oy);
    };
    RegionMarks marks;
    marks.footprint = [=](QSize picture) {
        QRect r;
        if (blend) {
            const QPointF o = offset(picture);
            const QPoint at(static_cast<int>(PlacedAt(-o.x())), static_cast<int>(PlacedAt(-o.y())));
            r = QRect(at, watermark.size()) & QRect(at, mask.size());
        }
        return r | TextRunBounds(TextWatermarkRun(text, x, y, size, picture.width(),
                                                  picture.height(), style));
    };
    marks.paint = [=](QImage& region, QPoint at, QSize picture) {
        if (blend) {
            const QPointF o = offset(picture) - QPointF(at);
            BlendThroughMask(region, watermark, -o.x(), -o.y(), mask, -o.x(), -o.y());
        }
        if (text.trimmed().isEmpty()) return;
        TextRun run = TextWatermarkRun(text, x, y, size, picture.width(), picture.height(), style);
        run.rect.translate(-at);
        DrawTextRun(region, run);
    };
    return marks;
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
