#pragma once

#include <QImage>
#include <QString>

#include "imaging/metadata.h"
#include "imaging/status.h"

namespace velda {

// Most pixels a picture may have. A file whose header declares more is
// refused before anything is allocated.
inline constexpr qint64 kMaxPicturePixels = 250'000'000;

// Every picture format we know, for reading, writing or both (see
// formats.h).
enum class FormatId {
    Unknown,
    Jpeg,
    Tiff,
    Png,
    Webp,
    Heic,
    Avif,
    Jxl,
    Bmp,
    Pcx,
    Targa,
    Gif,
    PhotoCd,
    Fif
};

// A decoded picture: pixels in one of three layouts (RGB32 for colour,
// ARGB32 for colour with transparency, Indexed8 for palettes and grey) and
// the bits per pixel that the file really held, which no decoder reports
// reliably for 1- and 4-bit palettes.
struct Picture {
    QImage image;
    int depth = 0;                        // 1, 4, 8, 24, or 32 with alpha; 0 when empty
    QString fileName;                     // where it came from; travels with copies
    MetadataPtr metadata{};               // the photograph's EXIF, IPTC, XMP and ICC, if any
    FormatId format = FormatId::Unknown;  // the format it was read from

    bool isNull() const { return image.isNull(); }
};

// Brings any QImage to one of the three layouts.
QImage NormalizeImage(const QImage& image);

// A picture of at most 256 colours as Indexed8 with exactly those colours;
// any other picture unchanged. Decoders that hand back true colour for a
// palette file are brought back to the palette this way.
QImage ToPaletteIfFewColours(const QImage& image);

// A grey palette of 256 entries, index = level.
QList<QRgb> GreyPalette();

// Colour picture without transparency, alpha flattened onto white: for
// writers that cannot hold alpha.
QImage FlattenedRgb(const QImage& image);

// The palette with any transparency flattened onto white.
QList<QRgb> FlattenedPalette(const QList<QRgb>& palette);

// True when some palette entry or pixel is not fully opaque.
bool HasTransparency(const QImage& image);

// Raises a palette picture to true colour, transparent palette entries
// kept as alpha (depth 32 then); a true-colour one only has its depth set.
[[nodiscard]] Status ToTrueColour(Picture* picture);

}  // namespace velda
