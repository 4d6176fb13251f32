#include "imaging/mark_layout.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace velda {

namespace {

// Lanczos-3 contributions of the source pixels to each output pixel along
// one axis.
struct Contributions {
    int first = 0;
    std::vector<float> weights;
};

double Lanczos3(double x) {
    x = std::abs(x);
    if (x < 1e-9) return 1.0;
    if (x >= 3.0) return 0.0;
    const double px = M_PI * x;
    return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

std::vector<Contributions> AxisWeights(int from, int to) {
    const double scale = static_cast<double>(to) / from;
    const double stretch = std::max(1.0, 1.0 / scale);  // widened when shrinking
    const double support = 3.0 * stretch;
    std::vector<Contributions> out(static_cast<size_t>(to));
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) / scale - 0.5;
        const int lo = static_cast<int>(std::floor(centre - support));
        const int hi = static_cast<int>(std::ceil(centre + support));
        const int first = std::clamp(lo, 0, from - 1);
        const int last = std::clamp(hi, 0, from - 1);
        std::vector<float> w(static_cast<size_t>(last - first + 1), 0.0f);
        double sum = 0;
        for (int j = lo; j <= hi; ++j) {
            const double k = Lanczos3((j - centre) / stretch);
            w[static_cast<size_t>(std::clamp(j, first, last) - first)] += static_cast<float>(k);
            sum += k;
        }
        for (float& v : w)
            v = static_cast<float>(v / sum);
        out[static_cast<size_t>(i)] = {first, std::move(w)};
    }
    return out;
}

QImage Lanczos(const QImage& image, QSize size) {
    const QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w0 = src.width(), h0 = src.height(), w1 = size.width(), h1 = size.height();
    const auto across = AxisWeights(w0, w1);
    const auto down = AxisWeights(h0, h1);
    // Across first, into floats, then down into the result.
    std::vector<float> mid(static_cast<size_t>(w1) * h0 * 4);
    for (int y = 0; y < h0; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        float* out = &mid[static_cast<size_t>(y) * w1 * 4];
        for (int x = 0; x < w1; ++x) {
            const Contributions& c = across[static_cast<size_t>(x)];
            float a = 0, r = 0, g = 0, b = 0;
            for (size_t k = 0; k < c.weights.size(); ++k) {
                const QRgb p = line[c.first + static_cast<int>(k)];
                const float wk = c.weights[k];
                a += wk * static_cast<float>(qAlpha(p));
                r += wk * static_cast<float>(qRed(p));
                g += wk * static_cast<float>(qGreen(p));
                b += wk * static_cast<float>(qBlue(p));
            }
            out[4 * x] = a;
            out[4 * x + 1] = r;
            out[4 * x + 2] = g;
            out[4 * x + 3] = b;
        }
    }
    QImage result(size, QImage::Format_ARGB32_Premultiplied);
    auto clamp = [](float v, float hi) { return static_cast<int>(std::clamp(v + 0.5f, 0.0f, hi)); };
    for (int y = 0; y < h1; ++y) {
        const Contributions& c = down[static_cast<size_t>(y)];
        QRgb* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < w1; ++x) {
            float v[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < c.weights.size(); ++k) {
                const float* p = &mid[(static_cast<size_t>(c.first) + k) * w1 * 4 + 4 * x];
                for (int ch = 0; ch < 4; ++ch)
                    v[ch] += c.weights[k] * p[ch];
            }
            const int a = clamp(v[0], 255);
            // Premultiplied: no colour may exceed its alpha.
            const auto top = static_cast<float>(a);
            line[x] = qRgba(clamp(v[1], top), clamp(v[2], top), clamp(v[3], top), a);
        }
    }
    return result.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                          : QImage::Format_RGB32);
}

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
    const double mx = marginX.Pixels(picture.width()), my = marginY.Pixels(picture.height());
    const double free_x = picture.width() - box.width(), free_y = picture.height() - box.height();
    double x = free_x / 2, y = free_y / 2;
    switch (anchor) {
        case Anchor::TopLeft:
        case Anchor::Left:
        case Anchor::BottomLeft:
            x = mx;
            break;
        case Anchor::TopRight:
        case Anchor::Right:
        case Anchor::BottomRight:
            x = free_x - mx;
            break;
        default:
            break;
    }
    switch (anchor) {
        case Anchor::TopLeft:
        case Anchor::Top:
        case Anchor::TopRight:
            y = my;
            break;
        case Anchor::BottomLeft:
        case Anchor::Bottom:
        case Anchor::BottomRight:
            y = free_y - my;
            break;
        default:
            break;
    }
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

QImage ResizeHighQuality(const QImage& image, QSize size) {
    if (image.isNull() || size.isEmpty() || size == image.size()) return image;
    if (size.width() <= image.width() && size.height() <= image.height()) {
        // Qt's smooth scaling averages every source pixel under an output
        // pixel when shrinking.
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return Lanczos(image, size);
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
