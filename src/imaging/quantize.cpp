#include "imaging/quantize.h"

#include <libimagequant.h>

#include <memory>
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

}  // namespace

Status QuantizeImage(const QImage& image, int colours, QImage* out) {
    if (image.isNull()) return Status::Error(ErrorCode::NoPicture);
    if (colours < 2 || colours > 256) return Status::Error(ErrorCode::BadArgument);
    std::unique_ptr<liq_attr, LiqAttrDeleter> attr(liq_attr_create());
    if (!attr) return Status::Error(ErrorCode::OutOfMemory);
    liq_set_max_colors(attr.get(), colours);
    liq_set_speed(attr.get(), 5);
    // The row callback reads the picture through a const reference that
    // outlives every use libimagequant makes of it.
    QImage source = image;
    std::unique_ptr<liq_image, LiqImageDeleter> input(liq_image_create_custom(
        attr.get(), RowCallback, &source, image.width(), image.height(), 0.0));
    if (!input) return Status::Error(ErrorCode::OutOfMemory);
    liq_result* raw = nullptr;
    if (liq_image_quantize(input.get(), attr.get(), &raw) != LIQ_OK || !raw) {
        return Status::Error(ErrorCode::ColourFailed);
    }
    std::unique_ptr<liq_result, LiqResultDeleter> result(raw);
    liq_set_dithering_level(result.get(), 1.0f);

    QImage indexed(image.width(), image.height(), QImage::Format_Indexed8);
    if (indexed.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    std::vector<unsigned char*> rows(static_cast<size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[static_cast<size_t>(y)] = indexed.scanLine(y);
    if (liq_write_remapped_image_rows(result.get(), input.get(), rows.data()) != LIQ_OK) {
        return Status::Error(ErrorCode::ColourFailed);
    }
    const liq_palette* pal = liq_get_palette(result.get());
    QList<QRgb> palette(static_cast<qsizetype>(pal->count));
    for (unsigned i = 0; i < pal->count; ++i) {
        const liq_color& c = pal->entries[i];
        palette[i] = qRgba(c.r, c.g, c.b, c.a);
    }
    indexed.setColorTable(palette);
    *out = std::move(indexed);
    return Status::Ok();
}

}  // namespace velda
