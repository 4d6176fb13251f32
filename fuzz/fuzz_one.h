#pragma once

// One fuzz input through one decoder, as the fuzz targets run it and as the
// replay test runs the committed regression files: signature, header
// checks, decoding, layout. Inputs that sniff as another format are passed
// over so each target stays on its own decoder.
#include <QByteArray>
#include <QString>

#include "imaging/codec.h"
#include "imaging/picture_io.h"

namespace velda::fuzz {

// Returns whether the input reached the decoder of kind.
inline bool DecodeOneInput(FileKind kind, const QString& name, const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (SniffKind(bytes, name) != kind) return false;
    Picture picture;
    (void)DecodePicture(bytes, name, 1 + static_cast<int>(size % 3), &picture);
    return true;
}

}  // namespace velda::fuzz
