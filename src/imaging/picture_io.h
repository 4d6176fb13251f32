#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "base/values.h"
#include "imaging/codec.h"
#include "imaging/jpeg_remark.h"
#include "imaging/metadata.h"
#include "imaging/picture.h"
#include "imaging/resize.h"
#include "imaging/status.h"

namespace velda {

// What a load is about to decode, known from the header alone.
struct DecodeEstimate {
    FormatId format = FormatId::Unknown;
    int width = 0, height = 0;
    int depth = 0;  // bits per pixel the file holds
    qint64 fileBytes = 0;
    qint64 workingBytes = 0;  // the decode's peak, file included
};
// Admits a decode (a run's memory budget) or refuses it with the reason;
// called once the header has been read and before any pixel is allocated.
using DecodeGate = std::function<Status(const DecodeEstimate&)>;

// What a source is, read once before anything is decided about it: its
// bytes, its format (from its contents), its header, and its metadata with
// the orientation the camera recorded.
struct SourceInfo {
    QString name;  // the file's path: the formats known by name only need it
    QByteArray data;
    FormatId format = FormatId::Unknown;
    int photoCdResolution = kPhotoCdBase;
    HeaderInfo header;
    Status headerStatus;   // why the header was refused; the source then fails with it
    MetadataPtr metadata;  // from the formats that hold it
    int orientation = 1;

    const FormatInfo& formatInfo() const { return Format(format); }
    // The size the picture is seen at, once turned upright.
    QSize Upright() const {
        const QSize stored(header.width, header.height);
        return orientation >= 5 ? stored.transposed() : stored;
    }
};
// Probes data held in memory. Photo CD files are read at photoCdResolution
// (1 to 5).
SourceInfo ProbeSource(QByteArray data, const QString& name, int photoCdResolution = kPhotoCdBase);
// Decodes a probed source, admitted by gate once its header is known, and
// turned upright. With a size to end at (upright; none: as it is), it comes
// out brought down to it, a JPEG decoded at a fraction of its size where
// it can, then resampled with filter.
Status DecodeSource(const SourceInfo& source, Picture* out, const DecodeGate& gate = {},
                    QSize resized = QSize(), ResizeFilter filter = ResizeFilter::Area);
// DecodeSource in its two steps, so that one decode may serve results of
// several sizes: the picture decoded for the size (a JPEG at the DCT scale
// it allows) and turned upright; then brought to the size as DecodeSource
// brings it. DecodedSizeFor is the size the first step decodes at (in the
// stored frame): two sizes with the same one can share the decode.
Status DecodeUnresized(const SourceInfo& source, Picture* out, const DecodeGate& gate,
                       QSize resized, ResizeFilter filter);
Status ResizeDecoded(const SourceInfo& source, Picture* picture, QSize resized,
                     ResizeFilter filter);
QSize DecodedSizeFor(const SourceInfo& source, QSize resized, ResizeFilter filter);

// Reads a picture file: only a regular file, its kind from its contents,
// header checked before any allocation, decoded by the codec for its kind.
// Photo CD files are read at photoCdResolution (1 to 5).
Status LoadPicture(const QString& path, int photoCdResolution, Picture* out,
                   const DecodeGate& gate = {});
// The bytes of a picture file, read as LoadPicture reads them.
Status ReadPictureFile(const QString& path, QByteArray* out);
// Probes and decodes data in one step.
Status DecodePicture(const QByteArray& data, const QString& nameHint, int photoCdResolution,
                     Picture* out, const DecodeGate& gate = {});

// Marks a JPEG held in memory without re-encoding the blocks the marks
// leave alone (see jpeg_remark.h), its header checked and its decode
// admitted as DecodePicture's are. With keepMetadata the result carries
// the source's metadata, its orientation included. out->file is empty when
// data is no JPEG, and with out->wholeReason set when it is one that must
// be wholly re-encoded.
Status RemarkJpegData(const QByteArray& data, const RegionMarks& marks, bool keepMetadata,
                      const DecodeGate& gate, JpegRemark* out);
Status RemarkJpegSource(const SourceInfo& source, const RegionMarks& marks, bool keepMetadata,
                        const DecodeGate& gate, JpegRemark* out);
// The same, encoded anew at quality row by row (see MarkJpegRows), its
// marks drawn upright: out->file is empty for a picture that must be
// decoded whole (not upright, or not YCbCr), or for data that is no JPEG.
Status MarkJpegDataRows(const QByteArray& data, const RegionMarks& marks, int quality,
                        bool keepMetadata, const DecodeGate& gate, JpegRemark* out);
Status MarkJpegSourceRows(const SourceInfo& source, const RegionMarks& marks, int quality,
                          bool keepMetadata, const DecodeGate& gate, JpegRemark* out);

// Encodes picture, already at a depth the format writes (see ToWritable):
// 24 or 32, 8, 4 (1 is written as 4). quality where the format takes one
// (for JPEG 0 means 1); WebP is lossy at it, or lossless.
[[nodiscard]] Status EncodePicture(const Picture& picture, const FormatInfo& format, int quality,
                                   QByteArray* out, bool lossless = false);

// How a result is written.
struct WriteOptions {
    int depth = 24;    // 24, 8 or 4: brought to what the format holds (ToWritable)
    int quality = 75;  // where the format takes one
    bool lossless = false;
    bool keepMetadata = true;  // the picture's metadata, where the format holds it
    bool durable = false;      // flushed to the disk before it takes the name
    bool replace = true;       // false: TargetExists rather than replace a file
    int threads = 0;           // for a colour reduction; 0: every core
    // A format with a quality is written at the highest quality at or below
    // `quality` whose file fits in this many bytes (0: any size).
    qint64 maxBytes = 0;
};
// What a write chose.
struct WriteResult {
    int quality = 0;          // the quality written at, where the format takes one
    bool overBudget = false;  // not within maxBytes even at quality 1
    int encodes = 0;
    qint64 bytes = 0;
};
// Brings picture to a depth the format holds, encodes it, adds its
// metadata (which, if it cannot be written, does not cost the picture) and
// writes it atomically to path.
[[nodiscard]] Status WritePicture(const Picture& picture, const FormatInfo& format,
                                  const QString& path, const WriteOptions& options,
                                  WriteResult* result = nullptr);

// Writes bytes to path through a temporary file in the same directory,
// renamed into place: a failed or interrupted write never leaves a partial
// file under the real name. With durable, the data is also flushed to the
// disk before the rename, for when something depends on it surviving a
// crash (a source about to be deleted). Without replace an existing file
// is never replaced: TargetExists.
Status WriteFileAtomically(const QString& path, const QByteArray& bytes, bool durable,
                           bool replace = true);

}  // namespace velda
