#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "imaging/formats.h"
#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

// More scans than any camera or encoder writes: refused before decoding.
inline constexpr int kMaxJpegScans = 300;

// The fewest bytes a Targa file with this header can hold.
qint64 TargaMinimumBytes(const QByteArray& header);

// Decoders. Each fills a Picture in one of the three layouts of picture.h.
// atLeast: the picture may come out smaller, at the smallest of the
// decoder's DCT scales (1/8 to 1) that is still at least this size; with
// halvingsOnly, of 1/2, 1/4 and 1/8 only, whose decodes are averages of
// whole pixels (the scales in between alias).
// The size a JPEG of w x h is decoded at for atLeast, as DecodeJpeg picks it.
QSize JpegScaledSize(int w, int h, QSize atLeast, bool halvingsOnly);
Status DecodeJpeg(const QByteArray& data, const HeaderInfo& header, Picture* out,
                  QSize atLeast = QSize(), bool halvingsOnly = false);
Status DecodeWithQt(const QByteArray& data, const char* format, const HeaderInfo& header,
                    Picture* out);
Status DecodeTarga(const QByteArray& data, const HeaderInfo& header, Picture* out);
Status WebpHeader(const QByteArray& data, HeaderInfo* info);
Status DecodeWebp(const QByteArray& data, const HeaderInfo& header, Picture* out);
// How ImageMagick is to read a file: the coder, always named so that no
// file reaches a decoder other than the one its signature chose; the
// picture of a multi-resolution file; a conversion to sRGB; and whether
// the picture must have the size its header declares.
struct MagickRead {
    const char* coder = nullptr;
    int subImage = 0;
    bool toSrgb = false;
    bool sizeFromHeader = false;
};
Status DecodeWithMagick(const QByteArray& data, const HeaderInfo& header, const MagickRead& how,
                        Picture* out);

// Encoders. Each returns the whole file in memory; the caller writes it.
// depth is 24 (or 32 where the format keeps alpha), 8 or 4; for 8 and 4 the
// image is Indexed8 with at most 256 or 16 colours.
Status EncodeJpeg(const QImage& image, int quality, QByteArray* out);
Status EncodeBmp(const QImage& image, int depth, QByteArray* out);
// GIF: Indexed8, at most 256 colours; one transparent colour when the
// palette has transparent entries.
Status EncodeGif(const QImage& image, QByteArray* out);
Status EncodePcx(const QImage& image, int depth, QByteArray* out);
Status EncodeTiff(const QImage& image, int depth, QByteArray* out);
Status EncodeTarga(const QImage& image, int depth, QByteArray* out);
// PNG: true colour with alpha when any pixel is transparent, or a
// palette of 8 or 4 bits (transparent entries kept).
Status EncodePng(const QImage& image, int depth, QByteArray* out);
// WebP: lossy at quality 0-100, or lossless; alpha kept.
Status EncodeWebp(const QImage& image, int quality, bool lossless, QByteArray* out);
// A 16-colour TIFF, which Qt writes as 8 bits: Indexed8, at most 16 colours.
Status EncodeTiff4WithMagick(const QImage& image, QByteArray* out);

// One-time set-up of the codec libraries: ImageMagick with our resource
// policy (found beside the program), one thread for it, Exiv2's XMP parser
// with its lock, and Qt's image allocation limit raised so that large
// photographs load. It changes the process's environment, so each program
// calls it in main() before any thread starts; later calls do nothing.
void EnsureCodecsInitialized();

}  // namespace velda
