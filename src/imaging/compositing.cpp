#include "imaging/compositing.h"

#include <algorithm>
#include <cmath>

#include "imaging/picbuf.h"

namespace velda {

namespace {

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255.
inline uint32_t Div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline uint32_t Mix(uint32_t t, uint32_t s, uint32_t g) {
    return Div255(t * (255 - g) + s * g);
}

// Grey level of a mask pixel: its luminance (exact for greys, since the
// weights add up to 256).
inline uint32_t Weight(QRgb m) {
    return (77u * qRed(m) + 150u * qGreen(m) + 29u * qBlue(m) + 128u) >> 8;
}

}  // namespace

long PlacedAt(double origin) {
    // Positions far beyond any picture are pinned, so the conversion stays
    // defined for whatever number a user typed.
    const double p = std::clamp(std::floor(-origin + 0.5), -1e9, 1e9);
    return std::isnan(p) ? 0 : static_cast<long>(p);
}

void BlendThroughMask(QImage& target, const QImage& source, double sourceXorigin,
                      double sourceYorigin, const QImage& mask, double maskXorigin,
                      double maskYorigin) {
    if (target.isNull() || source.isNull() || mask.isNull()) return;
    const long sx = PlacedAt(sourceXorigin), sy = PlacedAt(sourceYorigin);
    const long mx = PlacedAt(maskXorigin), my = PlacedAt(maskYorigin);
    // Where source, mask and target all overlap, in target coordinates.
    const long x0 = std::max({0L, sx, mx});
    const long y0 = std::max({0L, sy, my});
    const long x1 =
        std::min({static_cast<long>(target.width()), sx + source.width(), mx + mask.width()});
    const long y1 =
        std::min({static_cast<long>(target.height()), sy + source.height(), my + mask.height()});
    if (x0 >= x1 || y0 >= y1) return;

    const QImage src =
        source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
            ? source
            : source.convertToFormat(QImage::Format_ARGB32);
    const QImage msk =
        mask.format() == QImage::Format_RGB32 || mask.format() == QImage::Format_ARGB32
            ? mask
            : mask.convertToFormat(QImage::Format_RGB32);
    const bool sourceAlpha = src.format() == QImage::Format_ARGB32;
    const bool targetAlpha = target.format() == QImage::Format_ARGB32;
    for (long y = y0; y < y1; ++y) {
        QRgb* t = reinterpret_cast<QRgb*>(target.scanLine(static_cast<int>(y)));
        const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(static_cast<int>(y - sy)));
        const QRgb* m = reinterpret_cast<const QRgb*>(msk.constScanLine(static_cast<int>(y - my)));
        for (long x = x0; x < x1; ++x) {
            uint32_t g = Weight(m[x - mx]);
            const QRgb sp = s[x - sx];
            if (sourceAlpha) g = Div255(g * qAlpha(sp));
            if (g == 0) continue;
            const QRgb tp = t[x];
            const uint32_t a = targetAlpha ? Mix(qAlpha(tp), 255, g) : 255;
            t[x] = qRgba(static_cast<int>(Mix(qRed(tp), qRed(sp), g)),
                         static_cast<int>(Mix(qGreen(tp), qGreen(sp), g)),
                         static_cast<int>(Mix(qBlue(tp), qBlue(sp), g)), static_cast<int>(a));
        }
    }
}

void PlacementOffset(const WatermarkPlacement& p, int dX, int dY, int wX, int wY, double* ox,
                     double* oy) {
    if (p.centre) {
        *ox = (dX - wX) / 2;  // integer division truncates toward zero
        *oy = (dY - wY) / 2;
    } else if (p.percent) {
        *ox = p.x / 100.0 * dX;
        *oy = p.y / 100.0 * dY;
    } else {
        *ox = p.x;
        *oy = p.y;
    }
}

void ApplyImageWatermark(Picbuf& target, Picbuf& watermark, Picbuf& mask,
                         const WatermarkPlacement& placement) {
    target.Xorigin = 0;
    target.Yorigin = 0;
    if (!watermark.HasPicture() || !target.HasPicture()) return;
    double ox = 0, oy = 0;
    PlacementOffset(placement, target.Xresolution(), target.Yresolution(), watermark.Xresolution(),
                    watermark.Yresolution(), &ox, &oy);
    mask.Xorigin = -ox;
    mask.Yorigin = -oy;
    watermark.Xorigin = -ox;
    watermark.Yorigin = -oy;
    // Without a mask there is nothing to blend through: the picture stays
    // as it was, as the routine's callers expect.
    (void)target.MaskCopy(watermark, mask);
}

}  // namespace velda
