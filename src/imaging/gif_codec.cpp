// GIF written with giflib: a palette picture, its colour map padded to 256
// entries, compressed straight from its rows.
#include <gif_lib.h>

#include <vector>

#include "imaging/codec.h"
#include "imaging/format_rows.h"
#include "imaging/header_util.h"

namespace velda {

namespace {

int Append(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<QByteArray*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    return length;
}

Status Failed(int error) {
    const char* text = GifErrorString(error);
    return Status::Error(ErrorCode::WriteFailed,
                         QString::fromLatin1(text ? text : "GIF writer failed"));
}

}  // namespace

Status EncodeGif(const QImage& image, QByteArray* out) {
    if (image.format() != QImage::Format_Indexed8) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("palette picture expected"));
    }
    QList<QRgb> palette = image.colorTable();
    if (palette.size() > 256) {
        return Status::Error(ErrorCode::BadArgument, QStringLiteral("too many colours"));
    }
    // GIF has one transparent colour: the first entry that is more than
    // half transparent stands for all such entries.
    int transparent = -1;
    for (qsizetype i = 0; i < palette.size(); ++i) {
        if (qAlpha(palette[i]) < 128) {
            transparent = static_cast<int>(i);
            break;
        }
    }
    if (transparent < 0) palette = FlattenedPalette(palette);
    std::vector<GifColorType> colours(256, GifColorType{0, 0, 0});
    std::vector<GifByteType> remap(256);
    for (int i = 0; i < 256; ++i) {
        remap[static_cast<size_t>(i)] = static_cast<GifByteType>(i < palette.size() ? i : 0);
        if (i >= palette.size()) continue;
        const QRgb c = palette[i];
        colours[static_cast<size_t>(i)] = {static_cast<GifByteType>(qRed(c)),
                                           static_cast<GifByteType>(qGreen(c)),
                                           static_cast<GifByteType>(qBlue(c))};
        if (transparent >= 0 && qAlpha(c) < 128)
            remap[static_cast<size_t>(i)] = static_cast<GifByteType>(transparent);
    }

    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(image.width()) * image.height() / 2 + 1024);
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, Append, &error);
    if (!gif) return Failed(error);
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    if (!map) {
        EGifCloseFile(gif, &error);
        return Status::Error(ErrorCode::OutOfMemory);
    }
    EGifSetGifVersion(gif, transparent >= 0);
    bool ok = EGifPutScreenDesc(gif, image.width(), image.height(), 8, 0, map) == GIF_OK;
    GifFreeMapObject(map);
    if (ok && transparent >= 0) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.DelayTime = 0;
        control.TransparentColor = transparent;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
             GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, image.width(), image.height(), false, nullptr) == GIF_OK;
    const int w = image.width(), h = image.height();
    std::vector<GifPixelType> row(static_cast<size_t>(w));
    for (int y = 0; ok && y < h; ++y) {
        const uchar* s = image.constScanLine(y);
        for (int x = 0; x < w; ++x)
            row[static_cast<size_t>(x)] = remap[s[x]];
        ok = EGifPutLine(gif, row.data(), w) == GIF_OK;
    }
    const int putError = gif->Error;
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok) return Failed(ok ? error : putError);
    *out = std::move(bytes);
    return Status::Ok();
}

namespace {

using namespace header;

Status GifHeader(const QByteArray& d, HeaderInfo* info) {
    if (d.size() < 13) return Truncated("GIF");
    const int packed = static_cast<uint8_t>(d[10]);
    info->depth = (packed & 0x80) ? PaletteDepth((packed & 7) + 1) : 8;
    if (Le16(d, 6) == 0 || Le16(d, 8) == 0) return Nonsense("GIF");
    // The picture is the first frame, whose size may be anything whatever
    // the screen says. Its descriptor is found as decoders find it: past
    // the colour table and any extensions, stray bytes skipped.
    qsizetype at = 13 + ((packed & 0x80) ? 3 * (2 << (packed & 7)) : 0);
    while (at < d.size()) {
        const auto c = static_cast<uint8_t>(d[at]);
        if (c == 0x3B) break;  // trailer: no frame at all
        if (c == 0x21) {       // extension: label, then sub-blocks
            at += 2;
            while (at < d.size() && d[at] != 0)
                at += static_cast<uint8_t>(d[at]) + 1;
            ++at;
            continue;
        }
        if (c != 0x2C) {
            ++at;
            continue;
        }
        if (at + 10 > d.size()) break;
        info->width = Le16(d, at + 5);
        info->height = Le16(d, at + 7);
        if (info->width == 0 || info->height == 0) return Nonsense("GIF");
        const int local = static_cast<uint8_t>(d[at + 9]);
        if (local & 0x80) info->depth = PaletteDepth((local & 7) + 1);
        // An LZW code of at most 12 bits stands for at most 4096 pixels,
        // once the first few thousand codes have built strings that long.
        const qint64 pixels = static_cast<qint64>(info->width) * info->height;
        info->minimumBytes = std::max<qint64>(0, pixels - 8'400'000) * 3 / 8192;
        return Status::Ok();
    }
    return Truncated("GIF");
}

bool Sniff(const QByteArray& d, const QString&) {
    return StartsWith(d, "GIF87a", 6) || StartsWith(d, "GIF89a", 6);
}
Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return GifHeader(d, info);
}
Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return DecodeWithMagick(d, h, {.coder = "GIF"}, out);
}
Status Encode(const QImage& image, const EncodeOptions&, QByteArray* out) {
    return EncodeGif(image, out);
}

}  // namespace

const FormatInfo kGifFormat = {
    .id = FormatId::Gif,
    .name = "gif",
    .title = "GIF",
    .endings = ".gif",
    .code = 4,
    .writeDepths = kWrites8 | kWrites4,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .decodeBytesPerPixel = 12,
    // ImageMagick's reader holds its own 16-bit copy.
    .encodeBytesPerPixel = 20,
};

}  // namespace velda
