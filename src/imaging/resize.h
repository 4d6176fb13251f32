#pragma once

#include <QImage>
#include <QSize>

#include "base/values.h"
#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

// A resampling fit for marks and photos: area averaging when shrinking,
// Lanczos-3 when enlarging (alpha kept, edges without dark fringes).
QImage ResizeHighQuality(const QImage& image, QSize size);

// The size a picture of this size is brought to: the target's length on the
// edge it names, the other edge in proportion, rounded; never larger than
// it was.
QSize ResizedSize(const ResizeTarget& target, QSize size);

// Brings a picture to a smaller size (true colour from then on), averaging
// the pixels each new one covers; the same size changes nothing.
[[nodiscard]] Status ResizePicture(Picture* picture, QSize size);

}  // namespace velda
