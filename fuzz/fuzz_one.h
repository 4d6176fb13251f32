#pragma once

// One fuzz input through one decoder, as the fuzz targets run it and as the
// replay test runs the committed regression files: signature, header
// checks, decoding, layout (and, for JPEG, both ways of marking it: under
// the marks only, and row by row). Inputs that sniff as another format are
// passed over so each target stays on its own decoder.
#include <QByteArray>
#include <QString>

#include "imaging/codec.h"
#include "imaging/picture_io.h"

namespace velda::fuzz {

// Returns whether the input reached the decoder of kind.
inline bool DecodeOneInput(FormatId kind, const QString& name, const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (SniffFormat(bytes, name) != kind) return false;
    Picture picture;
    (void)DecodePicture(bytes, name, 1 + static_cast<int>(size % 3), &picture);
    if (kind == FormatId::Jpeg) {
        // The path that keeps a JPEG's blocks reads the coefficients itself;
        // the row by row one drives libjpeg's decoder and encoder together.
        RegionMarks marks;
        marks.footprint = [](QSize) { return QRect(5, 5, 20, 20); };
        marks.paint = [](QImage& region, QPoint at, QSize) {
            for (int y = 5; y < 25; ++y)
                for (int x = 5; x < 25; ++x)
                    if (region.rect().contains(x - at.x(), y - at.y()))
                        region.setPixel(x - at.x(), y - at.y(), qRgb(250, 10, 10));
        };
        JpegRemark remark;
        (void)RemarkJpegData(bytes, marks, true, {}, &remark);
        (void)MarkJpegDataRows(bytes, marks, 75, true, {}, &remark);
    }
    return true;
}

}  // namespace velda::fuzz
