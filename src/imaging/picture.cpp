#include "imaging/picture.h"

#include <QHash>

namespace velda {

QList<QRgb> GreyPalette() {
    QList<QRgb> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = qRgb(i, i, i);
    return palette;
}

static QRgb OnWhite(QRgb c) {
    const int a = qAlpha(c);
    if (a == 255) return c;
    auto mix = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
    return qRgb(mix(qRed(c)), mix(qGreen(c)), mix(qBlue(c)));
}

QImage NormalizeImage(const QImage& image) {
    switch (image.format()) {
        case QImage::Format_Invalid:
            return QImage();
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_Indexed8:
            return image;
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return image.convertToFormat(QImage::Format_Indexed8);
        case QImage::Format_Grayscale8:
        case QImage::Format_Grayscale16: {
            const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
            QImage out(grey.size(), QImage::Format_Indexed8);
            if (out.isNull()) return out;
            out.setColorTable(GreyPalette());
            for (int y = 0; y < grey.height(); ++y) {
                memcpy(out.scanLine(y), grey.constScanLine(y), static_cast<size_t>(grey.width()));
            }
            return out;
        }
        default:
            return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32);
    }
}

QImage ToPaletteIfFewColours(const QImage& image) {
    if (image.format() == QImage::Format_Indexed8) return image;
    const QImage src = NormalizeImage(image);
    QHash<QRgb, uint8_t> index;
    QList<QRgb> palette;
    for (int y = 0; y < src.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < src.width(); ++x) {
            if (index.contains(s[x])) continue;
            if (palette.size() == 256) return image;
            index.insert(s[x], static_cast<uint8_t>(palette.size()));
            palette.append(s[x]);
        }
    }
    QImage out(src.size(), QImage::Format_Indexed8);
    if (out.isNull()) return image;
    out.setColorTable(palette);
    for (int y = 0; y < src.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        uint8_t* d = out.scanLine(y);
        for (int x = 0; x < src.width(); ++x)
            d[x] = index.value(s[x]);
    }
    return out;
}

QList<QRgb> FlattenedPalette(const QList<QRgb>& palette) {
    QList<QRgb> out = palette;
    for (QRgb& c : out)
        c = OnWhite(c);
    return out;
}

QImage FlattenedRgb(const QImage& image) {
    if (image.format() == QImage::Format_RGB32) return image;
    if (image.format() == QImage::Format_Indexed8) {
        QImage flat = image;
        flat.setColorTable(FlattenedPalette(image.colorTable()));
        return flat.convertToFormat(QImage::Format_RGB32);
    }
    QImage out(image.size(), QImage::Format_RGB32);
    if (out.isNull()) return out;
    const QImage src = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < src.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < src.width(); ++x)
            d[x] = OnWhite(s[x]);
    }
    return out;
}

bool HasTransparency(const QImage& image) {
    if (image.format() == QImage::Format_Indexed8) {
        for (QRgb c : image.colorTable()) {
            if (qAlpha(c) != 255) return true;
        }
        return false;
    }
    if (!image.hasAlphaChannel()) return false;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(s[x]) != 255) return true;
        }
    }
    return false;
}

Status ToTrueColour(Picture* picture) {
    QImage& image = picture->image;
    if (image.format() == QImage::Format_Indexed8) {
        const bool alpha = HasTransparency(image);
        QImage raised = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (raised.isNull()) return Status::Error(ErrorCode::OutOfMemory);
        image = std::move(raised);
    }
    picture->depth = image.format() == QImage::Format_ARGB32 ? 32 : 24;
    return Status::Ok();
}

}  // namespace velda
