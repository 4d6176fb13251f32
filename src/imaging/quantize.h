#pragma once

#include <QImage>

#include "imaging/status.h"

namespace velda {

// Reduces a picture to a palette of at most `colours` entries (2 to 256),
// dithered, with the palette built by libimagequant from the picture's own
// colours. The result is Indexed8.
Status QuantizeImage(const QImage& image, int colours, QImage* out);

}  // namespace velda
