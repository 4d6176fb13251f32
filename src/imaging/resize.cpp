#include "imaging/resize.h"

#include <QSysInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A separable Lanczos-3 in the file's own values, in fixed point: the
// weights of each output pixel along an axis, in 1/2^14ths summing to one.
// The window is cut at the picture's edges and the rest renormalised, as
// the common imaging libraries do, so edge pixels are not weighed twice.
constexpr int kWeightBits = 14;

struct AxisTaps {
    std::vector<int> first;        // first source index of each output pixel
    std::vector<int16_t> weights;  // `taps` a pixel, zero where unused
    int taps = 0;                  // even, and within the source when it is that long
};

AxisTaps LanczosTaps(int from, int to) {
    const double scale = static_cast<double>(from) / to;
    const double filterScale = std::max(1.0, scale);
    const double support = 3.0 * filterScale;
    AxisTaps axis;
    axis.taps = (static_cast<int>(std::ceil(support)) + 1) * 2;
    axis.first.resize(static_cast<size_t>(to));
    axis.weights.assign(static_cast<size_t>(to) * axis.taps, 0);
    std::vector<double> w(static_cast<size_t>(axis.taps));
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * scale;
        const int lo = std::max(0, static_cast<int>(centre - support + 0.5));
        const int hi = std::min(from, static_cast<int>(centre + support + 0.5));
        const int n = std::min(axis.taps, hi - lo);
        double sum = 0;
        for (int k = 0; k < n; ++k) {
            w[static_cast<size_t>(k)] = Lanczos3((lo + k - centre + 0.5) / filterScale);
            sum += w[static_cast<size_t>(k)];
        }
        // The window starts early enough that all its taps lie in the
        // source, so the vector loops never read past a row.
        const int first = std::max(0, std::min(lo, from - axis.taps));
        int16_t* out = &axis.weights[static_cast<size_t>(i) * axis.taps + (lo - first)];
        int total = 0, biggest = 0;
        for (int k = 0; k < n; ++k) {
            out[k] = static_cast<int16_t>(
                std::lround(w[static_cast<size_t>(k)] / sum * (1 << kWeightBits)));
            total += out[k];
            if (out[k] > out[biggest]) biggest = k;
        }
        // Rounding never leaves a flat area a shade lighter or darker.
        out[biggest] = static_cast<int16_t>(out[biggest] + (1 << kWeightBits) - total);
        axis.first[static_cast<size_t>(i)] = first;
    }
    return axis;
}

inline uint8_t Clamp8(int v) {
    v >>= kWeightBits;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

constexpr int kHalf = 1 << (kWeightBits - 1);  // rounds the sums to nearest

// Across: each output pixel's four bytes from its taps along the row.
void ResampleAcross(const QImage& src, const AxisTaps& axis, QImage* dst) {
    const int w1 = dst->width();
    const int width = src.width();
    for (int y = 0; y < src.height(); ++y) {
        const uint8_t* in = src.constScanLine(y);
        uint8_t* out = dst->scanLine(y);
        for (int x = 0; x < w1; ++x) {
            const int first = axis.first[static_cast<size_t>(x)];
            const uint8_t* p = in + 4 * first;
            const int16_t* w = &axis.weights[static_cast<size_t>(x) * axis.taps];
#if defined(__SSE2__)
            if (first + axis.taps <= width) {
                // Two pixels a step: their bytes interleaved channel by
                // channel, multiplied by the two weights and summed.
                const __m128i zero = _mm_setzero_si128();
                __m128i sum = _mm_set1_epi32(kHalf);
                for (int k = 0; k < axis.taps; k += 2) {
                    const __m128i a =
                        _mm_cvtsi32_si128(static_cast<int>(qFromUnaligned<uint32_t>(p + 4 * k)));
                    const __m128i b = _mm_cvtsi32_si128(
                        static_cast<int>(qFromUnaligned<uint32_t>(p + 4 * k + 4)));
                    const __m128i pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
                    const __m128i wk = _mm_set1_epi32(static_cast<int>(
                        (static_cast<uint32_t>(static_cast<uint16_t>(w[k + 1])) << 16) |
                        static_cast<uint16_t>(w[k])));
                    sum = _mm_add_epi32(sum, _mm_madd_epi16(pair, wk));
                }
                sum = _mm_srai_epi32(sum, kWeightBits);
                const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
                qToUnaligned(static_cast<uint32_t>(_mm_cvtsi128_si32(packed)), out + 4 * x);
                continue;
            }
#endif
            int a0 = kHalf, a1 = kHalf, a2 = kHalf, a3 = kHalf;
            const int n = std::min(axis.taps, width - first);
            for (int k = 0; k < n; ++k) {
                a0 += w[k] * p[4 * k];
                a1 += w[k] * p[4 * k + 1];
                a2 += w[k] * p[4 * k + 2];
                a3 += w[k] * p[4 * k + 3];
            }
            out[4 * x] = Clamp8(a0);
            out[4 * x + 1] = Clamp8(a1);
            out[4 * x + 2] = Clamp8(a2);
            out[4 * x + 3] = Clamp8(a3);
        }
    }
}

// Down: each output row from its taps' rows, every byte of the row alike.
void ResampleDown(const QImage& src, const AxisTaps& axis, QImage* dst) {
    const int bytes = dst->width() * 4;
    for (int y = 0; y < dst->height(); ++y) {
        const int first = axis.first[static_cast<size_t>(y)];
        const int16_t* w = &axis.weights[static_cast<size_t>(y) * axis.taps];
        const int n = std::min(axis.taps, src.height() - first);
        uint8_t* out = dst->scanLine(y);
        int i = 0;
#if defined(__SSE2__)
        // Sixteen bytes of the row at a time, two rows a step, as across.
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= bytes; i += 16) {
            __m128i s0 = _mm_set1_epi32(kHalf), s1 = s0, s2 = s0, s3 = s0;
            for (int k = 0; k < n; k += 2) {
                const __m128i a = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(src.constScanLine(first + k) + i));
                const __m128i b = k + 1 < n ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                  src.constScanLine(first + k + 1) + i))
                                            : zero;
                const __m128i wk = _mm_set1_epi32(static_cast<int>(
                    (k + 1 < n ? static_cast<uint32_t>(static_cast<uint16_t>(w[k + 1])) << 16
                               : 0u) |
                    static_cast<uint16_t>(w[k])));
                const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);
                s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), wk));
                s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), wk));
                s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), wk));
                s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), wk));
            }
            const __m128i first8 =
                _mm_packs_epi32(_mm_srai_epi32(s0, kWeightBits), _mm_srai_epi32(s1, kWeightBits));
            const __m128i last8 =
                _mm_packs_epi32(_mm_srai_epi32(s2, kWeightBits), _mm_srai_epi32(s3, kWeightBits));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(first8, last8));
        }
#endif
        for (; i < bytes; ++i) {
            int sum = kHalf;
            for (int k = 0; k < n; ++k)
                sum += w[k] * src.constScanLine(first + k)[i];
            out[i] = Clamp8(sum);
        }
    }
}

QImage Lanczos3Fixed(const QImage& image, QSize size) {
    const bool alpha = image.hasAlphaChannel();
    // With alpha, colours are weighed premultiplied, so transparent pixels
    // lend no colour to their neighbours.
    const QImage::Format work = alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const QImage src = image.format() == work ? image : image.convertToFormat(work);
    if (src.isNull()) return QImage();
    QImage across(size.width(), src.height(), work);
    QImage result(size, work);
    if (across.isNull() || result.isNull()) return QImage();
    ResampleAcross(src, LanczosTaps(src.width(), size.width()), &across);
    ResampleDown(across, LanczosTaps(src.height(), size.height()), &result);
    across = QImage();
    const int h = result.height(), w = result.width();
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        if (!alpha) {
            for (int x = 0; x < w; ++x)
                line[x] |= 0xff000000u;
            continue;
        }
        // Premultiplied: no colour may exceed its alpha after the lobes.
        for (int x = 0; x < w; ++x) {
            const int a = qAlpha(line[x]);
            line[x] = qRgba(std::min(qRed(line[x]), a), std::min(qGreen(line[x]), a),
                            std::min(qBlue(line[x]), a), a);
        }
    }
    return alpha ? result.convertToFormat(QImage::Format_ARGB32) : result;
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

Status ResizePicture(Picture* picture, QSize size, ResizeFilter filter) {
    if (size == picture->image.size()) return Status::Ok();
    if (picture->depth < 24) {
        if (Status s = ToTrueColour(picture); !s.ok()) return s;
    }
    QImage resized = filter == ResizeFilter::Lanczos3 ? Lanczos3Fixed(picture->image, size)
                                                      : ResizeHighQuality(picture->image, size);
    if (resized.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    // The smooth scaling hands alpha back premultiplied.
    if (resized.format() != QImage::Format_RGB32)
        resized = resized.convertToFormat(resized.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                    : QImage::Format_RGB32);
    picture->image = std::move(resized);
    return Status::Ok();
}

Status SharpenPicture(Picture* picture, Sharpening level) {
    // The mask's weight in 1/256ths: the picture plus this much of its
    // difference from a 3x3 binomial blur.
    int amount = 0;
    switch (level) {
        case Sharpening::None:
            return Status::Ok();
        case Sharpening::Low:
            amount = 100;
            break;
        case Sharpening::Standard:
            amount = 200;
            break;
        case Sharpening::High:
            amount = 350;
            break;
    }
    if (picture->image.isNull()) return Status::Ok();
    if (picture->depth < 24 || picture->image.depth() != 32) {
        if (Status s = ToTrueColour(picture); !s.ok()) return s;
    }
    const QImage& src = picture->image;
    QImage out(src.size(), src.format());
    if (out.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    const int w = src.width(), h = src.height();
    const int alphaByte = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? 3 : 0;
    // Each column's vertical 1-2-1 sum of the three rows around y.
    std::vector<uint16_t> column(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h; ++y) {
        const uint8_t* above = src.constScanLine(std::max(0, y - 1));
        const uint8_t* row = src.constScanLine(y);
        const uint8_t* below = src.constScanLine(std::min(h - 1, y + 1));
        for (size_t i = 0; i < column.size(); ++i)
            column[i] = static_cast<uint16_t>(above[i] + 2 * row[i] + below[i]);
        uint8_t* line = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int left = std::max(0, x - 1) * 4, centre = x * 4,
                      right = std::min(w - 1, x + 1) * 4;
            for (int c = 0; c < 4; ++c) {
                const int v = row[centre + c];
                if (c == alphaByte) {
                    line[centre + c] = static_cast<uint8_t>(v);
                    continue;
                }
                const int blur16 = column[static_cast<size_t>(left + c)] +
                                   2 * column[static_cast<size_t>(centre + c)] +
                                   column[static_cast<size_t>(right + c)];
                const int sharp = v + ((amount * (16 * v - blur16) + (1 << 11)) >> 12);
                line[centre + c] = static_cast<uint8_t>(std::clamp(sharp, 0, 255));
            }
        }
    }
    picture->image = std::move(out);
    return Status::Ok();
}

}  // namespace velda
