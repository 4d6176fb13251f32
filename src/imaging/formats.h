#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <span>

#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

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

// Photo CD resolutions: 1 Base/16 ... 5 Base*16.
inline constexpr int kPhotoCdBase = 3;

struct DecodeOptions {
    int photoCdResolution = kPhotoCdBase;
    // The picture may come out smaller, at the smallest of the decoder's
    // DCT scales (1/8 to 1) that is still at least this size; with
    // halvingsOnly, of 1/2, 1/4 and 1/8 (see DecodeJpeg).
    QSize atLeast;
    bool halvingsOnly = false;
};

struct MetadataBlocks;

struct EncodeOptions {
    // 24 (or 32 where the format keeps alpha), 8 or 4; for 8 and 4 the
    // image is Indexed8 with at most 256 or 16 colours.
    int depth = 24;
    int quality = 75;  // 0-100 where the format takes one
    bool lossless = false;
    // For a format whose encoder writes the metadata itself: the blocks to
    // write, or null.
    const MetadataBlocks* metadata = nullptr;
    int threads = 0;  // the encoder's, where it has several; 0 every core
};

// Bits of FormatInfo::writeDepths.
inline constexpr unsigned kWrites24 = 1, kWrites8 = 2, kWrites4 = 4;

// How sure a format's signature is: strong ones are tried first, weak ones
// (a few plausible bytes) after them, and formats that carry no signature
// at all are known by the name's ending.
enum class Signature { Strong, Weak, ByName };

// One row of the format table: everything the program knows of a format.
struct FormatInfo {
    FormatId id = FormatId::Unknown;
    const char* name = "";     // lower case, as --format takes it ("jpg")
    const char* title = "";    // as dialogs and messages show it ("JPEG")
    const char* endings = "";  // every spelling in use, space-separated; the first is written
    // The picture buffer's format code, as files and dialogs store it; 0 for
    // a format that is only read.
    int code = 0;
    unsigned writeDepths = 0;    // kWrites24 | kWrites8 | kWrites4
    bool takesQuality = false;   // lossy at a quality (JPEGValue)
    bool keepsAlpha = false;     // a 24-bit result keeps transparency
    bool holdsMetadata = false;  // EXIF, IPTC, XMP and a colour profile
    // The metadata goes to the encoder as blocks (EncodeOptions::metadata)
    // rather than into the encoded file afterwards.
    bool encoderWritesMetadata = false;

    Signature signature = Signature::ByName;
    bool (*sniff)(const QByteArray& data, const QString& name) = nullptr;
    Status (*header)(const QByteArray& data, const DecodeOptions& options,
                     HeaderInfo* info) = nullptr;
    Status (*decode)(const QByteArray& data, const HeaderInfo& header, const DecodeOptions& options,
                     Picture* out) = nullptr;
    Status (*encode)(const QImage& image, const EncodeOptions& options, QByteArray* out) = nullptr;
    // The file's EXIF, IPTC, XMP and colour profile, and the orientation
    // still to apply to the decoded picture (1 where the decoder turns it
    // itself); null for a format that holds none.
    MetadataPtr (*metadata)(const QByteArray& data, int* orientation) = nullptr;
    // The decode's peak beyond the file's own bytes, per pixel (measured
    // on 50-megapixel files), and the encoder's output buffers.
    int decodeBytesPerPixel = 0;
    int encodeBytesPerPixel = 0;
    // A lossless encode's, where it costs more (0: the same).
    int losslessEncodeBytesPerPixel = 0;
    // Quality 100 is mathematically lossless (JPEG XL's).
    bool losslessAtTop = false;

    bool readable() const { return decode != nullptr; }
    bool writable() const { return encode != nullptr; }
    bool writes(int depth) const;
    // The ending written for it (".jpg"), empty for a format only read.
    QString extension() const;
    QStringList endingList() const;
};

// The rows, in the order the dialogs and lists show them.
std::span<const FormatInfo* const> Formats();
const FormatInfo& Format(FormatId id);
// By --format name or any ending without its dot, in any letter case.
const FormatInfo* FormatNamed(QStringView name);
const FormatInfo* FormatWithCode(int code);

// The kind of data: signatures first, then, for what carries none, the
// name's ending.
FormatId SniffFormat(const QByteArray& data, const QString& fileName);

// The endings of the names of every format we read, lower-case, dot
// included: the walk, the file lists and the Open dialogs take these. A
// file is then decoded by what its bytes hold, whatever its name says.
const QStringList& PictureEndings();
// True when name ends with one of them, in any letter case.
bool HasPictureEnding(const QString& name);
// Name patterns for one format's endings ("*.jpg;*.jpeg;*.jpe;*.jfif"), or
// for every format read with Unknown.
QString PictureEndingPatterns(FormatId id = FormatId::Unknown);

// The header of data of the given format; CorruptData when it is cut short
// or makes no sense, TooLarge when it declares more than kMaxPicturePixels.
Status ReadHeader(FormatId id, const QByteArray& data, int photoCdResolution, HeaderInfo* info);

// Memory a decode of this format and size takes at its peak, the file's
// bytes included: what a run's memory budget must admit before decoding.
qint64 DecodeWorkingBytes(FormatId id, const HeaderInfo& header, qint64 fileBytes);

// The picture as the format can hold it at depth (24, 8 or 4): raised to
// true colour or reduced to a dithered palette of 256 or 16 colours. A
// depth the format cannot write is replaced by the nearest it can (JPEG
// and WebP are always true colour, GIF at most 256 colours). threads: for
// the colour reduction, 0 every core.
Status ToWritable(const Picture& picture, const FormatInfo& format, int depth, int threads,
                  Picture* out);
// The depth ToWritable gives a picture of this format at depth.
int WritableDepth(const FormatInfo& format, int depth);

}  // namespace velda
