#include "imaging/quantize.h"

#include <libimagequant.h>

#include "imaging/picture.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace velda {

namespace {

struct LiqAttrDeleter {
    void operator()(liq_attr* a) const { liq_attr_destroy(a); }
};
struct LiqImageDeleter {
    void operator()(liq_image* i) const { liq_image_destroy(i); }
};
struct LiqResultDeleter {
    void operator()(liq_result* r) const { liq_result_destroy(r); }
};
struct LiqHistogramDeleter {
    void operator()(liq_histogram* h) const { liq_histogram_destroy(h); }
};
using LiqAttr = std::unique_ptr<liq_attr, LiqAttrDeleter>;
using LiqResult = std::unique_ptr<liq_result, LiqResultDeleter>;

QList<QRgb> PaletteOf(liq_result* result) {
    const liq_palette* pal = liq_get_palette(result);
    QList<QRgb> palette(static_cast<qsizetype>(pal->count));
    for (unsigned i = 0; i < pal->count; ++i) {
        const liq_color& c = pal->entries[i];
        palette[i] = qRgba(c.r, c.g, c.b, c.a);
    }
    return palette;
}

// Hands libimagequant one row at a time in its RGBA order, so the picture is
// never copied whole.
void RowCallback(liq_color rowOut[], int row, int width, void* user) {
    const QImage& image = *static_cast<const QImage*>(user);
    if (image.format() == QImage::Format_Indexed8) {
        const uint8_t* s = image.constScanLine(row);
        const QList<QRgb> palette = image.colorTable();
        for (int x = 0; x < width; ++x) {
            const QRgb c = s[x] < palette.size() ? palette[s[x]] : qRgb(0, 0, 0);
            rowOut[x] = {static_cast<unsigned char>(qRed(c)), static_cast<unsigned char>(qGreen(c)),
                         static_cast<unsigned char>(qBlue(c)),
                         static_cast<unsigned char>(qAlpha(c))};
        }
        return;
    }
    const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(row));
    const bool opaque = image.format() == QImage::Format_RGB32;
    for (int x = 0; x < width; ++x) {
        const QRgb c = s[x];
        rowOut[x] = {static_cast<unsigned char>(qRed(c)), static_cast<unsigned char>(qGreen(c)),
                     static_cast<unsigned char>(qBlue(c)),
                     static_cast<unsigned char>(opaque ? 255 : qAlpha(c))};
    }
}

// Pictures with transparency, or few enough pixels that speed does not
// matter: libimagequant quantises and remaps every pixel itself.
Status QuantizeWhole(const QImage& image, liq_attr* attr, QImage* out) {
    // The row callback reads the picture through a const reference that
    // outlives every use libimagequant makes of it.
    QImage source = image;
    std::unique_ptr<liq_image, LiqImageDeleter> input(
        liq_image_create_custom(attr, RowCallback, &source, image.width(), image.height(), 0.0));
    if (!input) return Status::Error(ErrorCode::OutOfMemory);
    liq_result* raw = nullptr;
    if (liq_image_quantize(input.get(), attr, &raw) != LIQ_OK || !raw) {
        return Status::Error(ErrorCode::ColourFailed);
    }
    LiqResult result(raw);
    liq_set_dithering_level(result.get(), 1.0f);
    QImage indexed(image.width(), image.height(), QImage::Format_Indexed8);
    if (indexed.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    std::vector<unsigned char*> rows(static_cast<size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[static_cast<size_t>(y)] = indexed.scanLine(y);
    if (liq_write_remapped_image_rows(result.get(), input.get(), rows.data()) != LIQ_OK) {
        return Status::Error(ErrorCode::ColourFailed);
    }
    indexed.setColorTable(PaletteOf(result.get()));
    *out = std::move(indexed);
    return Status::Ok();
}

// Colours are binned at 6 bits a channel for the palette's histogram and
// for the nearest-colour cache.
constexpr int kBinBits = 6;
constexpr int kBins = 1 << (3 * kBinBits);
inline int BinOf(int r, int g, int b) {
    constexpr int shift = 8 - kBinBits;
    return ((r >> shift) << (2 * kBinBits)) | ((g >> shift) << kBinBits) | (b >> shift);
}

// The palette from a histogram of every pixel: each occupied bin counts
// with the mean of the colours that fell in it, so no colour of the
// picture, however rare (a thin line of text), goes unseen.
Status BuildPalette(const QImage& image, liq_attr* attr, QList<QRgb>* palette) {
    struct Sum {
        uint64_t r = 0, g = 0, b = 0;
        uint32_t n = 0;
    };
    std::vector<Sum> bins(kBins);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int r = qRed(s[x]), g = qGreen(s[x]), b = qBlue(s[x]);
            Sum& bin = bins[static_cast<size_t>(BinOf(r, g, b))];
            bin.r += static_cast<uint64_t>(r);
            bin.g += static_cast<uint64_t>(g);
            bin.b += static_cast<uint64_t>(b);
            ++bin.n;
        }
    }
    std::vector<liq_histogram_entry> entries;
    for (const Sum& bin : bins) {
        if (bin.n == 0) continue;
        auto mean = [&bin](uint64_t sum) {
            return static_cast<unsigned char>((sum + bin.n / 2) / bin.n);
        };
        entries.push_back({{mean(bin.r), mean(bin.g), mean(bin.b), 255}, bin.n});
    }
    std::unique_ptr<liq_histogram, LiqHistogramDeleter> histogram(liq_histogram_create(attr));
    if (!histogram) return Status::Error(ErrorCode::OutOfMemory);
    if (liq_histogram_add_colors(histogram.get(), attr, entries.data(),
                                 static_cast<int>(entries.size()), 0.0) != LIQ_OK) {
        return Status::Error(ErrorCode::ColourFailed);
    }
    liq_result* raw = nullptr;
    if (liq_histogram_quantize(histogram.get(), attr, &raw) != LIQ_OK || !raw) {
        return Status::Error(ErrorCode::ColourFailed);
    }
    LiqResult result(raw);
    *palette = PaletteOf(result.get());
    return Status::Ok();
}

// Nearest palette entries, looked up once per bin that the dithered
// colours reach: exact for the bin's centre.
class NearestColours {
  public:
    explicit NearestColours(const QList<QRgb>& palette) : cache_(kBins, -1) {
        for (qsizetype i = 0; i < palette.size(); ++i) {
            r[i] = qRed(palette[i]);
            g[i] = qGreen(palette[i]);
            b[i] = qBlue(palette[i]);
        }
        count_ = static_cast<int>(palette.size());
    }
    int operator()(int red, int green, int blue) {
        int16_t& slot = cache_[static_cast<size_t>(BinOf(red, green, blue))];
        if (slot < 0) slot = Search(red, green, blue);
        return slot;
    }
    int r[256] = {}, g[256] = {}, b[256] = {};

  private:
    int16_t Search(int red, int green, int blue) const {
        constexpr int half = 1 << (7 - kBinBits);  // the bin's centre
        constexpr int mask = ~((1 << (8 - kBinBits)) - 1);
        red = (red & mask) + half;
        green = (green & mask) + half;
        blue = (blue & mask) + half;
        int best = 0, bestDistance = INT32_MAX;
        for (int i = 0; i < count_; ++i) {
            // Weighted as the eye weighs them.
            const int dr = red - r[i], dg = green - g[i], db = blue - b[i];
            const int d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        return static_cast<int16_t>(best);
    }
    int count_ = 0;
    std::vector<int16_t> cache_;
};

inline int Channel(int value, int error) {
    constexpr int kLimit = 40 * 16;  // in sixteenths of a level
    return std::clamp(value + std::clamp(error, -kLimit, kLimit) / 16, 0, 255);
}

// Floyd-Steinberg error diffusion over rows [top, bottom), serpentine, the
// error carried at 7/8 strength and bounded so that it never smears a
// colour far across flat areas. Errors are kept in sixteenths, three
// channels a pixel, with a spare pixel at either end of the row.
void Remap(const QImage& image, const QList<QRgb>& palette, int top, int bottom, uchar* out,
           qsizetype outStride) {
    NearestColours nearest(palette);
    const int w = image.width();
    std::vector<int> hereRow(3 * (static_cast<size_t>(w) + 2)), belowRow(hereRow.size());
    for (int y = top; y < bottom; ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* d = out + y * outStride;
        const bool forward = (y - top) % 2 == 0;
        const int step = forward ? 3 : -3;
        std::fill(belowRow.begin(), belowRow.end(), 0);
        int* here = hereRow.data();
        int* below = belowRow.data();
        for (int i = 0; i < w; ++i) {
            const int x = forward ? i : w - 1 - i;
            const int at = 3 * (x + 1);
            const QRgb p = s[x];
            const int vr = Channel(qRed(p), here[at]);
            const int vg = Channel(qGreen(p), here[at + 1]);
            const int vb = Channel(qBlue(p), here[at + 2]);
            const int index = nearest(vr, vg, vb);
            d[x] = static_cast<uchar>(index);
            const int e[3] = {(vr - nearest.r[index]) * 7 / 8, (vg - nearest.g[index]) * 7 / 8,
                              (vb - nearest.b[index]) * 7 / 8};
            for (int c = 0; c < 3; ++c) {
                here[at + step + c] += e[c] * 7;
                below[at - step + c] += e[c] * 3;
                below[at + c] += e[c] * 5;
                below[at + step + c] += e[c];
            }
        }
        std::swap(hereRow, belowRow);
    }
}

}  // namespace

Status QuantizeImage(const QImage& image, int colours, QImage* out, int threads) {
    if (image.isNull()) return Status::Error(ErrorCode::NoPicture);
    if (colours < 2 || colours > 256) return Status::Error(ErrorCode::BadArgument);
    LiqAttr attr(liq_attr_create());
    if (!attr) return Status::Error(ErrorCode::OutOfMemory);
    liq_set_max_colors(attr.get(), colours);
    liq_set_speed(attr.get(), 5);
    const qint64 pixels = static_cast<qint64>(image.width()) * image.height();
    if (image.format() == QImage::Format_Indexed8 || HasTransparency(image) || pixels < 65536) {
        return QuantizeWhole(image, attr.get(), out);
    }

    const QImage rgb = image.format() == QImage::Format_RGB32
                           ? image
                           : image.convertToFormat(QImage::Format_RGB32);
    QList<QRgb> palette;
    if (Status s = BuildPalette(rgb, attr.get(), &palette); !s.ok()) return s;
    QImage indexed(image.width(), image.height(), QImage::Format_Indexed8);
    if (indexed.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    indexed.setColorTable(palette);

    // Bands of rows on their own threads, each dithering from a clean
    // error; the seams between them are not visible in a photo.
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    const int bands = std::clamp(threads, 1, std::max(1, image.height() / 256));
    uchar* const bits = indexed.bits();  // detached here, before any thread writes
    const qsizetype stride = indexed.bytesPerLine();
    std::vector<std::thread> workers;
    for (int b = 1; b < bands; ++b) {
        workers.emplace_back([&, b] {
            Remap(rgb, palette, image.height() * b / bands, image.height() * (b + 1) / bands, bits,
                  stride);
        });
    }
    Remap(rgb, palette, 0, image.height() / bands, bits, stride);
    for (std::thread& t : workers)
        t.join();
    *out = std::move(indexed);
    return Status::Ok();
}

}  // namespace velda
