#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

// The picture formats, told apart by their contents (and, for Targa and
// FIF, which carry no signature, by the name's ending).
enum class FileKind { Unknown, Jpeg, Bmp, Pcx, Png, Tiff, Targa, Gif, PhotoCd, Fif, Webp };

// The endings of the names of every kind of picture we read, lower-case,
// dot included: the walk, the file lists and the Open dialogs take these.
// A file is then decoded by what its bytes hold, whatever its name says.
const QStringList& PictureEndings();
// True when name ends with one of them, in any letter case.
bool HasPictureEnding(const QString& name);
// Name patterns for one kind's endings ("*.jpg;*.jpeg;*.jpe;*.jfif"), or
// for every kind with Unknown.
QString PictureEndingPatterns(FileKind kind = FileKind::Unknown);

// What a header says, read before any pixel is decoded.
struct HeaderInfo {
    int width = 0;
    int height = 0;
    int depth = 0;  // bits per pixel as the file holds them (1, 4, 8, 24, 32)
    // The fewest bytes a file of this kind needs for a picture of this size
    // (all its pixel data when uncompressed, the best case of its coding
    // otherwise).
    qint64 minimumBytes = 0;
    int scans = 0;  // a JPEG's: more than one means its decoder holds every coefficient
};

// More scans than any camera or encoder writes: refused before decoding.
inline constexpr int kMaxJpegScans = 300;

// Memory a decode of this kind and size takes at its peak, the file's
// bytes included: what a run's memory budget must admit before decoding.
qint64 DecodeWorkingBytes(FileKind kind, const HeaderInfo& header, qint64 fileBytes);

// The fewest bytes a Targa file with this header can hold.
qint64 TargaMinimumBytes(const QByteArray& header);

// Photo CD resolutions: 1 Base/16 ... 5 Base*16.
inline constexpr int kPhotoCdBase = 3;

FileKind SniffKind(const QByteArray& data, const QString& fileName);

// The header of data of the given kind; CorruptData when it is cut short or
// makes no sense, TooLarge when it declares more than kMaxPicturePixels.
Status ReadHeader(FileKind kind, const QByteArray& data, int photoCdResolution, HeaderInfo* info);

// Decoders. Each fills a Picture in one of the three layouts of picture.h.
// atLeast: the picture may come out smaller, at the smallest of the
// decoder's DCT scales (1/8 to 1) that is still at least this size.
Status DecodeJpeg(const QByteArray& data, const HeaderInfo& header, Picture* out,
                  QSize atLeast = QSize());
Status DecodeWithQt(const QByteArray& data, const char* format, const HeaderInfo& header,
                    Picture* out);
Status DecodeTarga(const QByteArray& data, const HeaderInfo& header, Picture* out);
Status WebpHeader(const QByteArray& data, HeaderInfo* info);
Status DecodeWebp(const QByteArray& data, const HeaderInfo& header, Picture* out);
Status DecodeWithMagick(FileKind kind, const QByteArray& data, int photoCdResolution,
                        const HeaderInfo& header, Picture* out);

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
