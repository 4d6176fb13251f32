#include "batch/batch_job.h"

#include "batch/messages.h"
#include "imaging/loaders.h"
#include "imaging/picture_io.h"
#include "settings/numbers.h"

#include <cmath>
#include <mutex>

namespace velda {

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

namespace {

Anchor AnchorFrom(const QString& word) {
    static const QStringList words = {
        QStringLiteral("TL"), QStringLiteral("T"), QStringLiteral("TR"),
        QStringLiteral("L"),  QStringLiteral("C"), QStringLiteral("R"),
        QStringLiteral("BL"), QStringLiteral("B"), QStringLiteral("BR")};
    return static_cast<Anchor>(words.indexOf(word) + 1);  // absent: None
}

Length LengthFrom(const QString& text) {
    return ParseLength(text).value_or(Length{});
}

double NumberFrom(const QString& text, double fallback) {
    return ParseNumberIn(text, -1e9, 1e9).value_or(fallback);
}

// Where the marks of one job go on one picture.
struct Placement {
    std::shared_ptr<const PreparedMark> mark;  // null: no watermark drawn
    std::vector<QPointF> origins;              // the watermark copies' top-left corners
    TextRun run;                               // empty text: none drawn
};

Placement Place(const BatchJob& job, const QString& text, QSize picture) {
    Placement p;
    const MarkLayout& layout = job.layout;
    const QImage& watermark = job.watermark.image;
    const QImage& mask = job.mask.image;
    if (!watermark.isNull() && !mask.isNull()) {
        if (layout.watermarkSize > 0 || layout.tile) {
            if (job.markPictures) {
                p.mark = job.markPictures->For(picture);
            } else {
                p.mark = MarkPictures(watermark, mask, layout).For(picture);
            }
        } else {
            p.mark = std::make_shared<PreparedMark>(PreparedMark{watermark, mask});
        }
        const QSize size = p.mark->watermark.size();
        if (p.mark->watermark.isNull()) {
            p.mark = nullptr;
        } else if (layout.tile) {
            for (const QPoint o :
                 TileOrigins(picture, MarkSizeOn(layout, picture, watermark.size()), size,
                             layout.tileGap, layout.tileAngle))
                p.origins.push_back(o);
        } else if (layout.anchor != Anchor::None) {
            p.origins.push_back(
                AnchoredAt(layout.anchor, layout.marginX, layout.marginY, picture, size));
        } else {
            double ox = 0, oy = 0;
            PlacementOffset(job.placement, picture.width(), picture.height(), size.width(),
                            size.height(), &ox, &oy);
            p.origins.push_back({ox, oy});
        }
    }
    if (text.trimmed().isEmpty()) return p;
    p.run = TextWatermarkRun(text, job.textX, job.textY, job.textSize, picture.width(),
                             picture.height(), job.textStyle);
    if (layout.textSize > 0) {
        const int shorter = std::min(picture.width(), picture.height());
        const int height = static_cast<int>(std::lround(layout.textSize / 100.0 * shorter));
        if (height < kSmallestMark) {
            p.run.text.clear();
            return p;
        }
        p.run.rect.setHeight(height);
    }
    p.run.outline = layout.textOutline;
    p.run.shadow = layout.textShadow;
    // Measured and placed as far as the picture can show it: a line of any
    // length (a token may bring thousands of characters) costs no more.
    p.run =
        FitRunTo(p.run, layout.textAnchor != Anchor::None ? picture.width()
                                                          : picture.width() - p.run.rect.left());
    if (layout.textAnchor != Anchor::None) {
        p.run.rect.moveTopLeft(AnchoredAt(layout.textAnchor, layout.textMarginX, layout.textMarginY,
                                          picture, TextRunSize(p.run)));
    }
    return p;
}

}  // namespace

namespace {

ResizeFilter FilterFrom(const QString& v) {
    return v == u"area" ? ResizeFilter::Area : ResizeFilter::Lanczos3;
}

Sharpening SharpeningFrom(const QString& v) {
    return v == u"low"        ? Sharpening::Low
           : v == u"standard" ? Sharpening::Standard
           : v == u"high"     ? Sharpening::High
                              : Sharpening::None;
}

// The resize, sharpening, size budget, metadata policy and name template
// that an "Output" section gives.
void ApplyOutputSettings(const OutputSettings& o, BatchJob* job) {
    job->resize = ParseResizeTarget(o.Value(QStringLiteral("Resize"))).value_or(ResizeTarget{});
    job->nameTemplate = o.Value(QStringLiteral("NameTemplate"));
    job->resizeFilter = FilterFrom(o.Value(QStringLiteral("ResizeFilter")));
    job->sharpen = SharpeningFrom(o.Value(QStringLiteral("Sharpen")));
    job->toSrgb = o.Value(QStringLiteral("ColourSpace")) == u"srgb";
    job->maxBytes = ParseByteSize(o.Value(QStringLiteral("MaxBytes"))).value_or(0);
    MetadataPolicy& m = job->metadataPolicy;
    const QString keep = o.Value(QStringLiteral("Metadata"));
    m.keep = keep == u"nocamera"    ? MetadataPolicy::Keep::NoCamera
             : keep == u"copyright" ? MetadataPolicy::Keep::Copyright
             : keep == u"none"      ? MetadataPolicy::Keep::None
                                    : MetadataPolicy::Keep::All;
    m.removeLocation = o.Value(QStringLiteral("RemoveLocation")) == u"True";
    m.creator = o.Value(QStringLiteral("Creator"));
    m.copyright = o.Value(QStringLiteral("Copyright"));
    m.rightsUrl = o.Value(QStringLiteral("RightsUrl"));
}

void ApplyExtraResults(const JobSettings& s, BatchJob* job) {
    job->extras.clear();
    for (const auto& [number, o] : s.extraOutputs) {
        if (o.values().isEmpty()) continue;  // an empty section asks for nothing
        ExtraResult r;
        r.number = number;
        if (const FormatInfo* f = FormatNamed(o.Value(QStringLiteral("Format")));
            f && f->writable())
            r.format = f->id;
        if (const QString q = o.Value(QStringLiteral("Quality")); !q.isEmpty())
            r.quality = static_cast<int>(o.Number(QStringLiteral("Quality")));
        r.resize = ParseResizeTarget(o.Value(QStringLiteral("Resize"))).value_or(ResizeTarget{});
        r.resizeFilter = FilterFrom(o.Value(QStringLiteral("ResizeFilter")));
        r.sharpen = SharpeningFrom(o.Value(QStringLiteral("Sharpen")));
        r.nameTemplate = o.Value(QStringLiteral("NameTemplate"));
        r.maxBytes = ParseByteSize(o.Value(QStringLiteral("MaxBytes"))).value_or(0);
        r.folder = o.Value(QStringLiteral("Folder"));
        job->extras.push_back(r);
    }
}

}  // namespace

QString ExtraResultsProblem(const JobSettings& s) {
    for (const auto& [number, o] : s.extraOutputs) {
        const QString name = o.Value(QStringLiteral("Format"));
        const FormatInfo* f = name.isEmpty() ? nullptr : FormatNamed(name);
        if (!name.isEmpty() && (!f || !f->writable()))
            return QStringLiteral("%1.Format=%2: no such format to write")
                .arg(ExtraOutputName(number), name);
    }
    return QString();
}

namespace {

template <class Enum>
Enum WordOf(const SectionValues& v, const char16_t* key, const QStringList& words, Enum fallback) {
    const qsizetype i = words.indexOf(v.Value(QString::fromUtf16(key)));
    return i < 0 ? fallback : static_cast<Enum>(i);
}

QRgb RgbFrom(const QString& hash, QRgb fallback) {
    bool ok = false;
    const uint v = hash.mid(1).toUInt(&ok, 16);
    return hash.size() == 7 && ok ? qRgb((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF) : fallback;
}

void ApplyStackMarks(const JobSettings& s, BatchJob* job) {
    job->stack.clear();
    job->markFiles.clear();
    for (const auto& [number, v] : s.stackMarks) {
        auto value = [&v](const char* key) { return v.Value(QLatin1String(key)); };
        const QString file = value("File");
        const QString kind = value("Kind");
        StackMark m;
        m.number = number;
        m.isText = kind.isEmpty() ? file.isEmpty() : kind == u"Text";
        // A section that names nothing to draw draws nothing.
        if (m.isText ? value("Text").trimmed().isEmpty() : file.isEmpty()) continue;
        m.text = value("Text");
        m.font = value("Font");
        m.colour = RgbFrom(value("Colour"), qRgb(255, 255, 255));
        m.bold = DecodeBooleanWord(value("Bold"));
        m.align = WordOf(v, u"Align", {"Left", "Centre", "Right"}, LineAlign::Left);
        m.outline = static_cast<int>(std::lround(v.Number(QStringLiteral("Outline"))));
        m.shadow = DecodeBooleanWord(value("Shadow"));
        m.autoTone = DecodeBooleanWord(value("AutoTone"));
        if (!value("Box").isEmpty()) m.box = RgbFrom(value("Box"), qRgb(0, 0, 0));
        m.boxOpacity = v.Number(QStringLiteral("BoxOpacity"));
        m.boxPadding = static_cast<int>(std::lround(v.Number(QStringLiteral("BoxPadding"))));
        m.size = v.Number(QStringLiteral("Size"));
        m.sizeOf = WordOf(v, u"SizeOf", {"width", "height", "short", "long"},
                          m.isText ? Measure::Short : Measure::Width);
        const Anchor anchor = AnchorFrom(value("Anchor"));
        m.anchor = anchor == Anchor::None ? Anchor::Centre : anchor;
        m.marginX = LengthFrom(value("MarginX"));
        m.marginY = LengthFrom(value("MarginY"));
        m.tile = !m.isText && DecodeBooleanWord(value("Tile"));
        m.tileGap = v.Number(QStringLiteral("TileGap"));
        m.tileAngle = v.Number(QStringLiteral("TileAngle"));
        m.rotate = v.Number(QStringLiteral("Rotate"));
        m.opacity = v.Number(QStringLiteral("Opacity"));
        m.blend = WordOf(v, u"Blend", {"Normal", "Multiply", "Screen", "Overlay", "SoftLight"},
                         BlendMode::Normal);
        m.orientation =
            WordOf(v, u"Orientation", {"Any", "Landscape", "Portrait", "Square"}, Shape::Any);
        job->stack.push_back(m);
        job->markFiles.push_back(m.isText ? QString() : file);
    }
}

}  // namespace

void JobFromSettings(const JobSettings& s, BatchJob* job) {
    ApplyPanelSettings(s.main, job);
    job->layout = MarkLayoutFrom(s.marks);
    ApplyOutputSettings(s.output, job);
    ApplyExtraResults(s, job);
    ApplyStackMarks(s, job);
    job->keepMetadata = s.keepMetadata;
    job->losslessJpeg = s.losslessJpeg;
    job->invisible = InvisiblePayload::Parse(s.invisible.Value(QStringLiteral("Payload")));
    job->invisibleStrength =
        static_cast<int>(std::lround(s.invisible.Number(QStringLiteral("Strength"))));
}

QString InvisibleProblem(const BatchJob& job) {
    if (!job.invisible) return QString();
    auto palette = [&job](FormatId id) { return WritableDepth(Format(id), job.depth) < 24; };
    bool any = palette(job.output);
    for (const ExtraResult& e : job.extras)
        any = any || palette(e.format.value_or(job.output));
    return any ? messages::kInvisibleNeedsTrueColour : QString();
}

MarkLayout MarkLayoutFrom(const MarksSettings& m) {
    MarkLayout l;
    l.watermarkSize = NumberFrom(m.Value(QStringLiteral("WatermarkSize")), 0);
    static const QStringList measures = {QStringLiteral("width"), QStringLiteral("height"),
                                         QStringLiteral("short"), QStringLiteral("long")};
    l.sizeOf = static_cast<Measure>(
        std::max<qsizetype>(0, measures.indexOf(m.Value(QStringLiteral("WatermarkSizeOf")))));
    l.anchor = AnchorFrom(m.Value(QStringLiteral("Anchor")));
    l.marginX = LengthFrom(m.Value(QStringLiteral("MarginX")));
    l.marginY = LengthFrom(m.Value(QStringLiteral("MarginY")));
    l.tile = DecodeBooleanWord(m.Value(QStringLiteral("Tile")));
    l.tileGap = m.Number(QStringLiteral("TileGap"));
    l.tileAngle = NumberFrom(m.Value(QStringLiteral("TileAngle")), 0);
    l.textSize = NumberFrom(m.Value(QStringLiteral("TextSize")), 0);
    l.textAnchor = AnchorFrom(m.Value(QStringLiteral("TextAnchor")));
    l.textMarginX = LengthFrom(m.Value(QStringLiteral("TextMarginX")));
    l.textMarginY = LengthFrom(m.Value(QStringLiteral("TextMarginY")));
    l.textOutline =
        static_cast<int>(std::lround(NumberFrom(m.Value(QStringLiteral("TextOutline")), 0)));
    l.textShadow = DecodeBooleanWord(m.Value(QStringLiteral("TextShadow")));
    l.textAutoTone = DecodeBooleanWord(m.Value(QStringLiteral("TextAutoTone")));
    return l;
}

void PrepareMarks(BatchJob* job) {
    job->markPictures = nullptr;
    if (job->watermark.isNull() || job->mask.isNull()) return;
    job->markPictures =
        std::make_shared<MarkPictures>(job->watermark.image, job->mask.image, job->layout);
}

void WarmUpMarks(const BatchJob& job) {
    if (job.text.trimmed().isEmpty()) return;
    TextRun run = Place(job, job.text, QSize(2048, 2048)).run;
    const QSize size = TextRunSize(run).boundedTo(QSize(4096, 1024));
    if (run.text.isEmpty() || size.isEmpty()) return;
    QImage scratch(size, QImage::Format_RGB32);
    if (scratch.isNull()) return;
    run.rect.moveTopLeft(QPoint(0, 0));
    (void)DrawTextRun(scratch, run);  // nothing is kept of it but the caches
}

RegionMarks JobMarks(const BatchJob& jobRef, const QString& text) {
    // The marks outlive the call: they hold their own copy of the job.
    auto job = std::make_shared<const BatchJob>(jobRef);
    // The further marks placed once for the picture, however often its
    // footprint is asked and its regions are painted: a text is laid out
    // and drawn once, not for each.
    struct Placed {
        std::mutex mutex;
        QSize picture;
        std::vector<StackPlacement> marks;
    };
    auto placed = std::make_shared<Placed>();
    auto placeStack = [job, placed](QSize picture) {
        std::lock_guard lock(placed->mutex);
        if (placed->picture != picture || placed->marks.size() != job->stack.size()) {
            placed->marks.clear();
            for (const StackMark& m : job->stack)
                placed->marks.push_back(PlaceStackMark(m, picture));
            placed->picture = picture;
        }
        return placed->marks;
    };
    RegionMarks marks;
    marks.footprint = [job, text, placeStack](QSize picture) {
        const Placement p = Place(*job, text, picture);
        QRect r;
        for (const QPointF o : p.origins) {
            const QPoint at(static_cast<int>(PlacedAt(-o.x())), static_cast<int>(PlacedAt(-o.y())));
            r |= QRect(at, p.mark->watermark.size()) & QRect(at, p.mark->mask.size());
        }
        r |= TextRunBounds(p.run);
        for (const StackPlacement& s : placeStack(picture))
            r |= PlacementBounds(s);
        return r;
    };
    marks.paint = [job, text, placeStack](QImage& region, QPoint at, QSize picture) {
        Placement p = Place(*job, text, picture);
        for (const QPointF o : p.origins) {
            const QPointF from = o - QPointF(at);
            BlendThroughMask(region, p.mark->watermark, -from.x(), -from.y(), p.mark->mask,
                             -from.x(), -from.y());
        }
        if (!p.run.text.trimmed().isEmpty()) {
            p.run.rect.translate(-at);
            if (job->layout.textAutoTone)
                p.run.colour = ToneUnder(region, QRect(p.run.rect.topLeft(), TextRunSize(p.run)));
            // A region is always a true-colour picture, the one kind of
            // picture DrawTextRun draws on; there is nothing it could refuse.
            (void)DrawTextRun(region, p.run);
        }
        const std::vector<StackPlacement> stack = placeStack(picture);
        for (size_t i = 0; i < stack.size(); ++i)
            DrawStackMark(job->stack[i], stack[i], region, at, picture);
    };
    return marks;
}

namespace {

bool HasMarks(const BatchJob& job, const QString& text) {
    return (!job.watermark.isNull() && !job.mask.isNull()) || !text.trimmed().isEmpty() ||
           !job.stack.empty();
}

}  // namespace

Status DrawJobMarks(const BatchJob& job, const QString& text, Picture* picture) {
    // A picture without marks keeps its palette.
    if (picture->isNull() || !HasMarks(job, text)) return Status::Ok();
    if (Status s = ToTrueColour(picture); !s.ok()) return s;
    JobMarks(job, text).paint(picture->image, QPoint(0, 0), picture->image.size());
    return Status::Ok();
}

void DrawJobMarks(const BatchJob& job, const QString& text, Picbuf& picture) {
    if (HasMarks(job, text))
        (void)picture.PaintMarks(JobMarks(job, text));  // no picture: none drawn
}

qint64 MarksWorkingBytes(const BatchJob& job, const QString& text, QSize picture) {
    qint64 bytes = 0;
    if (!text.trimmed().isEmpty() && job.layout.textShadow)
        bytes = TextWorkingBytes(Place(job, text, picture).run, picture);
    for (const StackMark& m : job.stack)
        bytes += StackMarkBytes(m, picture);
    return bytes;
}

QString OmittedMarks(const BatchJob& job, QSize picture) {
    QStringList left;
    const MarkLayout& l = job.layout;
    if (!job.watermark.isNull() && l.watermarkSize > 0) {
        const QSize s = MarkSizeOn(l, picture, job.watermark.image.size());
        if (s.width() < kSmallestMark || s.height() < kSmallestMark)
            left << QStringLiteral("watermark");
    }
    if (!job.text.trimmed().isEmpty() && l.textSize > 0 &&
        std::lround(l.textSize / 100.0 * std::min(picture.width(), picture.height())) <
            kSmallestMark)
        left << QStringLiteral("text");
    for (const StackMark& m : job.stack) {
        if (DrawnOn(m, picture) && StackMarkTooSmall(m, picture)) left << StackMarkName(m.number);
    }
    return left.isEmpty() ? QString() : messages::MarksLeftOut(left.join(QStringLiteral(" and ")));
}

Status LoadStackMarkFiles(BatchJob* job, QString* message, bool dropFailed) {
    for (size_t i = 0; i < job->stack.size();) {
        const QString file = job->markFiles[i];
        StackMark& m = job->stack[i];
        if (Status s = file.isEmpty() ? Status::Ok() : LoadMarkPicture(file, &m); !s.ok()) {
            *message = QStringLiteral("%1: cannot load %2: %3")
                           .arg(StackMarkName(m.number), file, s.text());
            if (!dropFailed) return s;
            job->stack.erase(job->stack.begin() + static_cast<qsizetype>(i));
            job->markFiles.erase(job->markFiles.begin() + static_cast<qsizetype>(i));
            continue;
        }
        if (!file.isEmpty()) m.sprites = std::make_shared<StackSprites>();
        ++i;
    }
    return Status::Ok();
}

std::optional<BatchJob> WithStackTokens(const BatchJob& job, const FileFacts& facts) {
    std::optional<BatchJob> filled;
    for (size_t i = 0; i < job.stack.size(); ++i) {
        if (!job.stack[i].isText || !HasTokens(job.stack[i].text)) continue;
        if (!filled) filled = job;
        filled->stack[i].text = ExpandFileTokens(job.stack[i].text, facts);
    }
    return filled;
}

Status LoadJobPictures(const WatermarkSettings& s, BatchJob* job, QString* message) {
    Status status;
    Picbuf watermark, mask;  // the loaders' buffers; the job keeps their pictures
    const QString wm = s.WaterMarkFile.trimmed();
    if (!wm.isEmpty() &&
        LoadWatermarkPicture(wm, watermark, mask, s.MixValue, &status) != LoadOutcome::Loaded) {
        *message = messages::WatermarkLoadError(wm, status);
        return status;
    }
    const QString tmpl = s.TemplateFile.trimmed();
    if (!tmpl.isEmpty() && LoadTemplatePicture(tmpl, mask, &status) != LoadOutcome::Loaded) {
        *message = messages::TemplateLoadError(tmpl, status);
        return status;
    }
    job->watermark = watermark.picture();
    job->mask = mask.picture();
    return Status::Ok();
}

}  // namespace velda
