#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "imaging/codec.h"
#include "imaging/jpeg_remark.h"
#include "imaging/picture.h"
#include "imaging/status.h"
#include "settings/section_settings.h"

namespace velda {

// Picture buffer format codes of the writers.
enum FormatCode : int {
    kFormatAny = 0,  // reading: any format we know
    kFormatTiff = 1,
    kFormatTarga = 2,
    kFormatBmp = 3,
    kFormatGif = 4,
    kFormatPcx = 6,
    kFormatJpeg = 7,
    kFormatPng = 10,
    kFormatWebp = 11,
};

// The extension written for a format code (".tif"), empty for none.
QString ExtensionForFormat(int formatCode);

// What a load is about to decode, known from the header alone.
struct DecodeEstimate {
    FileKind kind = FileKind::Unknown;
    int width = 0, height = 0;
    int depth = 0;  // bits per pixel the file holds
    qint64 fileBytes = 0;
    qint64 workingBytes = 0;  // the decode's peak, file included
};
// Admits a decode (a run's memory budget) or refuses it with the reason;
// called once the header has been read and before any pixel is allocated.
using DecodeGate = std::function<Status(const DecodeEstimate&)>;

// Reads a picture file: only a regular file, its kind from its contents,
// header checked before any allocation, decoded by the codec for its kind.
// Photo CD files are read at photoCdResolution (1 to 5).
Status LoadPicture(const QString& path, int photoCdResolution, Picture* out,
                   const DecodeGate& gate = {});
// The bytes of a picture file, read as LoadPicture reads them.
Status ReadPictureFile(const QString& path, QByteArray* out);
// With a resize, a JPEG comes out already brought down to it (decoded at
// a fraction of its size where it can); other kinds come out whole.
Status DecodePicture(const QByteArray& data, const QString& nameHint, int photoCdResolution,
                     Picture* out, const DecodeGate& gate = {}, const ResizeTarget& resize = {});

// Marks a JPEG held in memory without re-encoding the blocks the marks
// leave alone (see jpeg_remark.h), its header checked and its decode
// admitted as DecodePicture's are. With keepMetadata the result carries
// the source's metadata, its orientation included. out->file is empty when
// data is no JPEG, and with out->wholeReason set when it is one that must
// be wholly re-encoded.
Status RemarkJpegData(const QByteArray& data, const RegionMarks& marks, bool keepMetadata,
                      const DecodeGate& gate, JpegRemark* out);
// The same, encoded anew at quality row by row (see MarkJpegRows), its
// marks drawn upright: out->file is empty for a picture that must be
// decoded whole (not upright, or not YCbCr), or for data that is no JPEG.
Status MarkJpegDataRows(const QByteArray& data, const RegionMarks& marks, int quality,
                        bool keepMetadata, const DecodeGate& gate, JpegRemark* out);

// Encodes picture in a format at its depth (24 or 32, 8, 4; 1 is written as
// 4). JPEG is always 24-bit colour at quality (0 means 1); WebP is lossy at
// quality, or lossless.
Status EncodePicture(const Picture& picture, int formatCode, int quality, QByteArray* out,
                     bool lossless = false);

// Formats whose files carry EXIF, IPTC or XMP and a colour profile.
bool FormatHoldsMetadata(int formatCode);

// Writes bytes to path through a temporary file in the same directory,
// renamed into place: a failed or interrupted write never leaves a partial
// file under the real name. With durable, the data is also flushed to the
// disk before the rename, for when something depends on it surviving a
// crash (a source about to be deleted). Without replace an existing file
// is never replaced: TargetExists.
Status WriteFileAtomically(const QString& path, const QByteArray& bytes, bool durable,
                           bool replace = true);

}  // namespace velda
