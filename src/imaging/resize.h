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

// How a photo is brought to its new size. Lanczos3: sharp, with little
// aliasing, computed in the file's own values as viewers and the web's
// pipelines do. Area: the average of the pixels each new one covers,
// softer, as results were made before the choice existed.
enum class ResizeFilter { Lanczos3, Area };

// Brings a picture to another size (true colour from then on); the same
// size changes nothing.
[[nodiscard]] Status ResizePicture(Picture* picture, QSize size,
                                   ResizeFilter filter = ResizeFilter::Area);

// Output sharpening for screens: an unsharp mask of radius about 0.7
// pixels after a resize, at three strengths.
enum class Sharpening { None, Low, Standard, High };

// Sharpens a picture's colours (true colour from then on; alpha left as
// it is).
[[nodiscard]] Status SharpenPicture(Picture* picture, Sharpening level);

}  // namespace velda
