#include "imaging/mark_layout.h"

#include "imaging/resize.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace velda {

namespace {

// Turns a picture counter-clockwise about its centre; what the turn
// uncovers is filled with background.
QImage Turned(const QImage& image, double angle, bool keepAlpha) {
    const QTransform turn = QTransform().rotate(-angle);
    QImage turned = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                        .transformed(turn, Qt::SmoothTransformation);
    if (keepAlpha) return turned.convertToFormat(QImage::Format_ARGB32);
    // A mask: black, which blends nothing, wherever the turn left no pixel.
    QImage out(turned.size(), QImage::Format_RGB32);
    out.fill(Qt::black);
    QPainter(&out).drawImage(0, 0, turned);
    return out;
}

}  // namespace

QPoint AnchoredAt(Anchor anchor, Length marginX, Length marginY, QSize picture, QSize box) {
    // The anchors run in reading order, three to a row: its column and row
    // say which edge each axis keeps to (0 the near one, 1 centred, 2 the
    // far one).
    const int i = std::max(0, static_cast<int>(anchor) - 1);
    auto along = [](int side, double margin, int room) {
        return side == 0 ? margin : side == 2 ? room - margin : room / 2.0;
    };
    const double x = along(i % 3, marginX.Pixels(picture.width()), picture.width() - box.width());
    const double y =
        along(i / 3, marginY.Pixels(picture.height()), picture.height() - box.height());
    return {static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y))};
}

QSize MarkSizeOn(const MarkLayout& layout, QSize picture, QSize own) {
    if (layout.watermarkSize <= 0 || own.isEmpty()) return own;
    const int w = picture.width(), h = picture.height();
    int measure = w;
    switch (layout.sizeOf) {
        case Measure::Height:
            measure = h;
            break;
        case Measure::Short:
            measure = std::min(w, h);
            break;
        case Measure::Long:
            measure = std::max(w, h);
            break;
        default:
            break;
    }
    const double width = layout.watermarkSize / 100.0 * measure;
    const double height = width * own.height() / own.width();
    return {static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height))};
}

std::vector<QPoint> TileOrigins(QSize picture, QSize mark, QSize turned, double gapPercent,
                                double angle) {
    std::vector<QPoint> out;
    if (mark.isEmpty() || picture.isEmpty()) return out;
    const double cw = mark.width() * (1 + gapPercent / 100.0);
    const double ch = mark.height() * (1 + gapPercent / 100.0);
    const double a = -angle * M_PI / 180.0;  // counter-clockwise on screen, y downwards
    const double ux = cw * std::cos(a), uy = cw * std::sin(a);
    const double vx = -ch * std::sin(a), vy = ch * std::cos(a);
    const double cx = picture.width() / 2.0, cy = picture.height() / 2.0;
    const double reach = std::hypot(picture.width(), picture.height()) / 2 +
                         std::hypot(turned.width(), turned.height());
    const int n = static_cast<int>(std::ceil(reach / std::min(cw, ch))) + 1;
    const QRect frame(QPoint(0, 0), picture);
    for (int j = -n; j <= n; ++j) {
        for (int i = -n; i <= n; ++i) {
            const double x = cx + i * ux + j * vx - turned.width() / 2.0;
            const double y = cy + i * uy + j * vy - turned.height() / 2.0;
            const QPoint at(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
            if (frame.intersects(QRect(at, turned))) out.push_back(at);
        }
    }
    return out;
}

std::shared_ptr<const PreparedMark> MarkPictures::For(QSize picture) const {
    const QSize size = MarkSizeOn(layout_, picture, watermark_.size());
    const std::pair key(size.width(), size.height());
    std::lock_guard lock(mutex_);
    if (const auto it = cache_.find(key); it != cache_.end()) return it->second;
    auto mark = std::make_shared<PreparedMark>();
    if (size.width() >= kSmallestMark && size.height() >= kSmallestMark) {
        // The template in the watermark's frame (it only counts where both
        // are), so that both scale and turn alike.
        QImage mask(watermark_.size(), QImage::Format_RGB32);
        mask.fill(Qt::black);
        QPainter(&mask).drawImage(0, 0, mask_);
        mark->watermark = ResizeHighQuality(watermark_, size);
        mark->mask = ResizeHighQuality(mask, size);
        if (layout_.tile && layout_.tileAngle != 0) {
            mark->watermark = Turned(mark->watermark, layout_.tileAngle, true);
            mark->mask = Turned(mark->mask, layout_.tileAngle, false);
        }
        // In the forms the blend reads as they are, so that no copy is
        // converted again for every tile or picture.
        mark->watermark = mark->watermark.convertToFormat(
            mark->watermark.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        mark->mask = mark->mask.convertToFormat(QImage::Format_RGB32);
    }
    // A run meets few picture sizes; a folder of thousands of different
    // ones must not keep thousands of marks.
    if (cache_.size() >= 64) cache_.clear();
    cache_.emplace(key, mark);
    return mark;
}

}  // namespace velda
