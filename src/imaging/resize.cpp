#include "imaging/resize.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

}  // namespace

QImage ResizeHighQuality(const QImage& image, QSize size) {
    if (image.isNull() || size.isEmpty() || size == image.size()) return image;
    if (size.width() <= image.width() && size.height() <= image.height()) {
        // Qt's smooth scaling averages every source pixel under an output
        // pixel when shrinking.
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return Lanczos(image, size);
}

QSize ResizedSize(const ResizeTarget& target, QSize size) {
    const double w = size.width(), h = size.height();
    if (w <= 0 || h <= 0) return size;
    double scale = 1;
    switch (target.kind) {
        case ResizeTarget::Kind::Long:
            scale = target.width / std::max(w, h);
            break;
        case ResizeTarget::Kind::Short:
            scale = target.width / std::min(w, h);
            break;
        case ResizeTarget::Kind::Width:
            scale = target.width / w;
            break;
        case ResizeTarget::Kind::Height:
            scale = target.width / h;
            break;
        case ResizeTarget::Kind::Fit:
            scale = std::min(target.width / w, target.height / h);
            break;
        default:
            break;
    }
    if (scale >= 1) return size;  // never enlarged
    return {std::max(1, static_cast<int>(std::lround(w * scale))),
            std::max(1, static_cast<int>(std::lround(h * scale)))};
}

Status ResizePicture(Picture* picture, QSize size) {
    if (size == picture->image.size()) return Status::Ok();
    if (picture->depth < 24) {
        if (Status s = ToTrueColour(picture); !s.ok()) return s;
    }
    QImage resized = ResizeHighQuality(picture->image, size);
    if (resized.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    // The smooth scaling hands alpha back premultiplied.
    if (resized.format() != QImage::Format_RGB32)
        resized = resized.convertToFormat(resized.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                    : QImage::Format_RGB32);
    picture->image = std::move(resized);
    return Status::Ok();
}

}  // namespace velda
