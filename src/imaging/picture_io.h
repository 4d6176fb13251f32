#pragma once

#include <QByteArray>
#include <QString>

#include "imaging/codec.h"
#include "imaging/picture.h"
#include "imaging/status.h"

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
};

// The extension written for a format code (".tif"), empty for none.
QString ExtensionForFormat(int formatCode);

// Reads a picture file: kind from its contents, header checked before any
// allocation, decoded by the codec for its kind. Photo CD files are read at
// photoCdResolution (1 to 5).
Status LoadPicture(const QString& path, int photoCdResolution, Picture* out);
Status DecodePicture(const QByteArray& data, const QString& nameHint, int photoCdResolution,
                     Picture* out);

// Encodes picture in a format at its depth (24 or 32, 8, 4; 1 is written as
// 4). JPEG is always 24-bit colour at quality (0 means 1).
Status EncodePicture(const Picture& picture, int formatCode, int quality, QByteArray* out);

// Writes bytes to path through a temporary file in the same directory,
// renamed into place: a failed or interrupted write never leaves a partial
// file under the real name. With durable, the data is also flushed to the
// disk before the rename, for when something depends on it surviving a
// crash (a source about to be deleted).
Status WriteFileAtomically(const QString& path, const QByteArray& bytes, bool durable);

}  // namespace velda
