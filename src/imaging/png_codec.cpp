// PNG writer through libpng: true colour (with alpha when the picture has
// any), or a palette of 8 or 4 bits.
#include <png.h>

#include <csetjmp>
#include <vector>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

void Flush(png_structp) {}

bool AnyTransparent(const QImage& image) {
    if (!image.hasAlphaChannel()) return false;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(line[x]) != 255) return true;
    }
    return false;
}

// Runs body with libpng's error exit landing here: false when it failed.
// Nothing of this frame changes after setjmp, and the body keeps every
// object with a destructor outside itself.
template <class F>
bool Guarded(png_structp png, F&& body) {
    if (setjmp(png_jmpbuf(png))) return false;
    body();
    return true;
}

}  // namespace

Status EncodePng(const QImage& source, int depth, QByteArray* out) {
    const bool palette = depth <= 8;
    QImage image = source;
    if (!palette) {
        image = source.convertToFormat(AnyTransparent(source) ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    }
    const bool alpha = !palette && image.format() == QImage::Format_ARGB32;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return Status::Error(ErrorCode::OutOfMemory);
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return Status::Error(ErrorCode::OutOfMemory);
    }
    QByteArray bytes;
    const auto w = static_cast<png_uint_32>(image.width());
    const auto h = static_cast<png_uint_32>(image.height());
    const int bits = palette ? depth : 8;
    std::vector<png_byte> row(static_cast<size_t>(w) * 4);
    std::vector<png_color> colours;
    std::vector<png_byte> trans;
    for (const QRgb c : image.colorTable()) {
        colours.push_back({static_cast<png_byte>(qRed(c)), static_cast<png_byte>(qGreen(c)),
                           static_cast<png_byte>(qBlue(c))});
        trans.push_back(static_cast<png_byte>(qAlpha(c)));
    }
    // Only as many alpha entries as reach the last transparent one.
    while (!trans.empty() && trans.back() == 255)
        trans.pop_back();
    const bool written = Guarded(png, [&] {
        png_set_write_fn(png, &bytes, Append, Flush);
        if (palette) {
            png_set_IHDR(png, info, w, h, bits, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
            if (!trans.empty())
                png_set_tRNS(png, info, trans.data(), static_cast<int>(trans.size()), nullptr);
        } else {
            png_set_IHDR(png, info, w, h, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                         PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        }
        // Fast deflate: most of the size comes from the pixels, not the level.
        png_set_compression_level(png, 6);
        png_write_info(png, info);
        for (png_uint_32 y = 0; y < h; ++y) {
            const uchar* line = image.constScanLine(static_cast<int>(y));
            if (palette) {
                if (bits == 8) {
                    std::copy(line, line + w, row.begin());
                } else {
                    std::fill(row.begin(), row.begin() + (w + 1) / 2, 0);
                    for (png_uint_32 x = 0; x < w; ++x)
                        row[x / 2] |= static_cast<png_byte>((line[x] & 0x0F) << (x % 2 ? 0 : 4));
                }
            } else {
                const QRgb* px = reinterpret_cast<const QRgb*>(line);
                png_byte* o = row.data();
                for (png_uint_32 x = 0; x < w; ++x) {
                    *o++ = static_cast<png_byte>(qRed(px[x]));
                    *o++ = static_cast<png_byte>(qGreen(px[x]));
                    *o++ = static_cast<png_byte>(qBlue(px[x]));
                    if (alpha) *o++ = static_cast<png_byte>(qAlpha(px[x]));
                }
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, info);
    });
    png_destroy_write_struct(&png, &info);
    if (!written) return Status::Error(ErrorCode::WriteFailed, QStringLiteral("PNG encoder"));
    *out = std::move(bytes);
    return Status::Ok();
}

namespace {

using namespace header;

Status PngHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 33) return Truncated("PNG");
    if (d.mid(12, 4) != "IHDR") return Nonsense("PNG");
    const uint32_t w = Be32(d, 16), h = Be32(d, 20);
    const int bitDepth = static_cast<uint8_t>(d[24]);
    const int colourType = static_cast<uint8_t>(d[25]);
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return Nonsense("PNG");
    info->width = static_cast<int>(w);
    info->height = static_cast<int>(h);
    switch (colourType) {
        case 0:
            info->depth = bitDepth >= 8 ? 8 : PaletteDepth(bitDepth);
            break;
        case 3:
            info->depth = PaletteDepth(bitDepth);
            break;
        case 2:
            info->depth = 24;
            break;
        case 4:
        case 6:
            info->depth = 32;
            break;
        default:
            return Nonsense("PNG");
    }
    // Deflate expands one byte into at most 1032.
    const int channels = colourType == 2 ? 3 : (colourType == 4 ? 2 : (colourType == 6 ? 4 : 1));
    const qint64 rowBytes = (static_cast<qint64>(w) * channels * bitDepth + 7) / 8 + 1;
    info->minimumBytes = rowBytes * h / 1032;
    return Status::Ok();
}

bool Sniff(const QByteArray& d, const QString&) {
    return StartsWith(d, "\x89PNG\r\n\x1A\n", 8);
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return PngHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeWithQt(d, "png", h, out);
}
Status Encode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodePng(image, o.depth, out);
}

}  // namespace

const FormatInfo kPngFormat = {
    .id = FormatId::Png,
    .name = "png",
    .title = "PNG",
    .endings = ".png",
    .code = 10,
    .writeDepths = kWrites24 | kWrites8 | kWrites4,
    .keepsAlpha = true,
    .holdsMetadata = true,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .metadata = ReadMetadata,
    // Qt decodes into a layout of its own (up to 64 bits a pixel for
    // 16-bit files) and we convert it to ours.
    .decodeBytesPerPixel = 8,
    .encodeBytesPerPixel = 3,
};

}  // namespace velda
