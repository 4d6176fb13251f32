#include "imaging/mark_stack.h"

#include <QPainter>
#include <QSvgRenderer>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include "imaging/picture_io.h"
#include "imaging/resize.h"
#include "imaging/text.h"

namespace velda {

namespace {

// A text with no size of its own: a line height of 5 % of the short edge.
constexpr double kDefaultTextSize = 5;
constexpr int kLargestMark = 16384;

int MeasureOf(Measure m, QSize picture) {
    const int w = picture.width(), h = picture.height();
    switch (m) {
        case Measure::Height:
            return h;
        case Measure::Short:
            return std::min(w, h);
        case Measure::Long:
            return std::max(w, h);
        case Measure::Width:
            break;
    }
    return w;
}

// The text's lines: "\n" written in the settings, or a line break a token
// brought, ends one; other control characters become spaces.
QStringList LinesOf(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = t.split(u'\n');
    for (QString& line : lines)
        line = OneLineText(line);
    return lines;
}

// Turns a block counter-clockwise about its centre into a picture that
// holds all of it, and its anchored box with it.
Sprite Turn(const QImage& block, const QRect& box, double angle) {
    if (angle == 0) return {block, box};
    const QTransform turn = QTransform().rotate(-angle);
    const QRectF bounds = turn.mapRect(QRectF(block.rect()));
    const QTransform place = turn * QTransform::fromTranslate(1 - bounds.left(), 1 - bounds.top());
    QImage out(static_cast<int>(std::ceil(bounds.width())) + 2,
               static_cast<int>(std::ceil(bounds.height())) + 2,
               QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return {};
    out.fill(Qt::transparent);
    {
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setTransform(place);
        p.drawImage(0, 0, block);
    }
    const QRect turned = place.mapRect(QRectF(box)).toRect() & out.rect();
    return {out, turned};
}

// The lines that can show on a picture: a token may bring thousands.
QStringList VisibleLines(const QString& text, int lineHeight, qreal room) {
    QStringList lines = LinesOf(text);
    const qsizetype most = static_cast<qsizetype>(room / std::max(1, lineHeight)) + 1;
    if (lines.size() > most) lines.resize(most);
    return lines;
}

// The text's lines drawn at this line height in this colour, with their box.
Sprite TextSprite(const StackMark& mark, int lineHeight, QRgb colour, qreal room) {
    const QStringList lines = VisibleLines(mark.text, lineHeight, room);
    std::vector<TextRun> runs;
    std::vector<int> widths;
    int width = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        TextRun run;
        run.text = lines[i];
        run.rect = QRect(0, static_cast<int>(i) * lineHeight, 10000, lineHeight);
        run.colour = colour;
        run.fontName = mark.font.isEmpty() ? QStringLiteral("Arial") : mark.font;
        run.bold = mark.bold;
        run.outline = mark.outline;
        run.shadow = mark.shadow;
        run.asOutlines = true;
        // A line of any length costs what the picture can show.
        run = FitRunTo(run, room);
        const int w = run.text.trimmed().isEmpty() ? 0 : TextRunSize(run).width();
        width = std::max(width, w);
        widths.push_back(w);
        runs.push_back(run);
    }
    if (width == 0) return {};
    const QRect text(0, 0, width, static_cast<int>(lines.size()) * lineHeight);
    const int pad = mark.box ? mark.boxPadding : 0;
    QRect box = text.adjusted(-pad, -pad, pad, pad);
    QRect bounds = box;
    for (size_t i = 0; i < runs.size(); ++i) {
        const int spare = width - widths[i];
        runs[i].rect.moveLeft(mark.align == LineAlign::Right    ? spare
                              : mark.align == LineAlign::Centre ? spare / 2
                                                                : 0);
        bounds |= TextRunBounds(runs[i]);
    }
    QImage block(bounds.size(), QImage::Format_ARGB32);
    if (block.isNull()) return {};
    block.fill(Qt::transparent);
    box.translate(-bounds.topLeft());
    if (mark.box) {
        QColor c = QColor::fromRgb(*mark.box);
        c.setAlphaF(static_cast<float>(mark.boxOpacity / 100.0));
        QPainter(&block).fillRect(box, c);
    }
    for (TextRun& run : runs) {
        run.rect.translate(-bounds.topLeft());
        (void)DrawTextRun(block, run);  // an ARGB32 picture: drawn
    }
    return Turn(block.convertToFormat(QImage::Format_ARGB32_Premultiplied), box, mark.rotate);
}

// A picture mark at its drawn size, turned with its tiles' pattern.
Sprite PictureSprite(const StackMark& mark, QSize drawn) {
    QImage block;
    if (!mark.svg.isEmpty()) {
        // Drawn at the size it is shown at: its edges stay sharp.
        QSvgRenderer svg(mark.svg);
        block = QImage(drawn, QImage::Format_ARGB32_Premultiplied);
        if (block.isNull() || !svg.isValid()) return {};
        block.fill(Qt::transparent);
        QPainter p(&block);
        p.setRenderHint(QPainter::Antialiasing, true);
        svg.render(&p, QRectF(QPointF(0, 0), QSizeF(drawn)));
    } else {
        block =
            drawn == mark.picture.size() ? mark.picture : ResizeHighQuality(mark.picture, drawn);
        block = block.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (block.isNull()) return {};
    return Turn(block, block.rect(), mark.rotate + (mark.tile ? mark.tileAngle : 0));
}

QPainter::CompositionMode ModeOf(BlendMode blend) {
    switch (blend) {
        case BlendMode::Multiply:
            return QPainter::CompositionMode_Multiply;
        case BlendMode::Screen:
            return QPainter::CompositionMode_Screen;
        case BlendMode::Overlay:
            return QPainter::CompositionMode_Overlay;
        case BlendMode::SoftLight:
            return QPainter::CompositionMode_SoftLight;
        case BlendMode::Normal:
            break;
    }
    return QPainter::CompositionMode_SourceOver;
}

StackPlacement Place(const StackMark& mark, QSize picture, QRgb colour) {
    StackPlacement p;
    if (!DrawnOn(mark, picture)) return p;
    const QSize drawn = StackMarkSize(mark, picture);
    if (drawn.height() <= 0) return p;
    if (mark.isText) {
        p.sprite = std::make_shared<const Sprite>(
            TextSprite(mark, drawn.height(), colour, picture.width() + picture.height()));
    } else {
        p.sprite = mark.sprites ? mark.sprites->For(mark, drawn)
                                : std::make_shared<const Sprite>(PictureSprite(mark, drawn));
    }
    if (p.sprite->image.isNull()) {
        p.sprite = nullptr;
        return p;
    }
    const Sprite& s = *p.sprite;
    if (!mark.isText && mark.tile) {
        p.at = TileOrigins(picture, drawn, s.image.size(), mark.tileGap, mark.tileAngle);
    } else {
        p.at.push_back(AnchoredAt(mark.anchor, mark.marginX, mark.marginY, picture, s.box.size()) -
                       s.box.topLeft());
    }
    return p;
}

}  // namespace

Status LoadMarkPicture(const QString& path, StackMark* mark) {
    mark->picture = QImage();
    mark->svg.clear();
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive) ||
        path.endsWith(QStringLiteral(".svgz"), Qt::CaseInsensitive)) {
        QByteArray data;
        if (Status s = ReadPictureFile(path, &data); !s.ok()) return s;
        const QSvgRenderer svg(data);
        const QSize own = svg.defaultSize();
        if (!svg.isValid() || own.isEmpty())
            return Status::Error(ErrorCode::NotAPicture, QStringLiteral("not a drawable SVG"));
        mark->svg = data;
        mark->ownSize = own;
        return Status::Ok();
    }
    Picture picture;
    if (Status s = LoadPicture(path, kPhotoCdBase, &picture); !s.ok()) return s;
    mark->picture = picture.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    mark->ownSize = mark->picture.size();
    return Status::Ok();
}

bool DrawnOn(const StackMark& mark, QSize picture) {
    switch (mark.orientation) {
        case Shape::Landscape:
            return picture.width() > picture.height();
        case Shape::Portrait:
            return picture.height() > picture.width();
        case Shape::Square:
            return picture.width() == picture.height();
        case Shape::Any:
            break;
    }
    return true;
}

namespace {

// The size asked for, before the limits.
QSize AskedSize(const StackMark& mark, QSize picture) {
    const int measure = MeasureOf(mark.sizeOf, picture);
    if (mark.isText) {
        const double size = mark.size > 0 ? mark.size : kDefaultTextSize;
        return {0, static_cast<int>(std::lround(size / 100.0 * measure))};
    }
    if (mark.ownSize.isEmpty() || mark.size <= 0) return mark.ownSize;
    const double w = mark.size / 100.0 * measure;
    return {static_cast<int>(std::lround(w)),
            static_cast<int>(std::lround(w * mark.ownSize.height() / mark.ownSize.width()))};
}

}  // namespace

bool StackMarkTooSmall(const StackMark& mark, QSize picture) {
    const QSize s = AskedSize(mark, picture);
    return s.height() < kSmallestMark || (!mark.isText && s.width() < kSmallestMark);
}

QSize StackMarkSize(const StackMark& mark, QSize picture) {
    const QSize s = AskedSize(mark, picture);
    if (StackMarkTooSmall(mark, picture) || s.width() > kLargestMark || s.height() > kLargestMark)
        return QSize();
    return s;
}

qint64 StackMarkBytes(const StackMark& mark, QSize picture) {
    if (!DrawnOn(mark, picture)) return 0;
    const QSize s = StackMarkSize(mark, picture);
    if (s.height() <= 0) return 0;
    double w = s.width(), h = s.height();
    if (mark.isText) {
        // At most the room the lines are cut to, and a margin for the
        // glyphs' reach, outline, shadow and box.
        const qreal room = picture.width() + picture.height();
        const QStringList lines = VisibleLines(mark.text, s.height(), room);
        qsizetype longest = 0;
        for (const QString& l : lines)
            longest = std::max(longest, l.size());
        const double pad = 2 * (s.height() / 4.0 + mark.outline + mark.boxPadding + 4);
        w = std::min<double>(room, static_cast<double>(longest) * s.height()) + pad;
        h = static_cast<double>(lines.size()) * s.height() + pad;
    }
    const double a = (mark.rotate + (mark.tile ? mark.tileAngle : 0)) * M_PI / 180.0;
    const double tw = std::abs(w * std::cos(a)) + std::abs(h * std::sin(a)) + 3;
    const double th = std::abs(w * std::sin(a)) + std::abs(h * std::cos(a)) + 3;
    // The block, its premultiplied copy and the turned sprite; a text's
    // shadow works on a block of its own.
    return static_cast<qint64>(4 * (2 * w * h + tw * th) + (mark.shadow ? 5 * w * h : 0));
}

StackPlacement PlaceStackMark(const StackMark& mark, QSize picture) {
    return Place(mark, picture, mark.autoTone ? qRgb(255, 255, 255) : mark.colour);
}

void DrawStackMark(const StackMark& mark, StackPlacement placement, QImage& region, QPoint at,
                   QSize picture) {
    if (!placement.sprite || mark.opacity <= 0) return;
    if (mark.isText && mark.autoTone && !placement.at.empty()) {
        // Against its own box when it has one, else against the picture.
        const QRect box = placement.sprite->box.translated(placement.at.front() - at);
        const QRgb tone = mark.box ? ContrastingTone(*mark.box) : ToneUnder(region, box);
        if (tone != qRgb(255, 255, 255)) placement = Place(mark, picture, tone);
    }
    QPainter p(&region);
    p.setCompositionMode(ModeOf(mark.blend));
    p.setOpacity(mark.opacity / 100.0);
    for (const QPoint o : placement.at)
        p.drawImage(o - at, placement.sprite->image);
}

QRect PlacementBounds(const StackPlacement& placement) {
    QRect r;
    if (!placement.sprite) return r;
    for (const QPoint o : placement.at)
        r |= QRect(o, placement.sprite->image.size());
    return r;
}

QRgb ToneUnder(const QImage& image, const QRect& box) {
    const QRect r = box & image.rect();
    if (r.isEmpty()) return qRgb(255, 255, 255);
    quint64 sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x)
            sum += static_cast<quint64>(qGray(line[x]));
    }
    const quint64 mean = sum / (static_cast<quint64>(r.width()) * r.height());
    return mean >= 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
}

std::shared_ptr<const Sprite> StackSprites::For(const StackMark& mark, QSize drawn) {
    const std::pair key(drawn.width(), drawn.height());
    std::lock_guard lock(mutex_);
    if (const auto it = cache_.find(key); it != cache_.end()) return it->second;
    auto sprite = std::make_shared<const Sprite>(PictureSprite(mark, drawn));
    // A folder of thousands of picture sizes must not keep thousands.
    if (cache_.size() >= 64) cache_.clear();
    cache_.emplace(key, sprite);
    return sprite;
}

}  // namespace velda
