#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <functional>

#include "imaging/status.h"

namespace velda {

// Marks to draw into part of a picture, in the picture's upright frame.
struct RegionMarks {
    // Every pixel of an upright picture of this size that the marks may
    // change (a larger rectangle is harmless, a smaller one is not).
    std::function<QRect(QSize upright)> footprint;
    // Draws the marks into region: the pixels of the upright picture's
    // rectangle whose top-left corner is offset.
    std::function<void(QImage& region, QPoint offset, QSize upright)> paint;
};

// Where upright pixel p of a picture shown with EXIF orientation (1 to 8)
// lies in the stored picture of size `stored`; ApplyOrientation moves the
// stored pixel there to p.
QPoint StoredPoint(QPoint p, int orientation, QSize stored);

// The orientation that undoes this one.
int InverseOrientation(int orientation);

// A JPEG's result with marks, made without re-encoding what they leave
// alone.
struct JpegRemark {
    QByteArray file;            // the new JPEG, without metadata; empty when not made
    QString wholeReason;        // one word for why the picture must be wholly re-encoded
    int blocksRedone = 0;       // 8x8 blocks of all components encoded anew
    int width = 0, height = 0;  // the stored picture's size
    int orientation = 1;        // its EXIF orientation, kept in the result

    QSize Upright() const { return orientation >= 5 ? QSize(height, width) : QSize(width, height); }
};

// Writes a JPEG whose 8x8 blocks of DCT coefficients are the source's
// except in the MCUs whose pixels the marks change: those are decoded,
// marked and encoded again with the source's quantisation tables. The
// stored pixels keep their orientation; the marks are drawn turned into
// the stored frame, so the picture seen upright shows them as if drawn
// upright. The result is sequential (baseline), as the normal path
// writes, whatever the source's mode. Pictures this cannot
// hold (CMYK, RGB-coded, arithmetic-coded, uneven sampling) come back
// with no file and the reason; damaged data fails.
Status RemarkJpeg(const QByteArray& jpeg, int orientation, const RegionMarks& marks,
                  JpegRemark* out);

// Decodes a JPEG row by row, draws the marks, and encodes it anew at
// quality (4:2:0, as EncodeJpeg writes) as the rows come: only the band of
// rows under the marks is ever held whole, so a photo of any size needs a
// few megabytes rather than four bytes a pixel. The pixels are the whole
// decode's to the bit. A picture not coded as YCbCr comes back with no file
// and the reason; damaged data fails.
Status MarkJpegRows(const QByteArray& jpeg, const RegionMarks& marks, int quality, JpegRemark* out);

}  // namespace velda
