#pragma once

#include <QImage>

#include "imaging/status.h"

namespace velda {

// Reduces a picture to a palette of at most `colours` entries (2 to 256),
// dithered, with the palette built by libimagequant from a histogram of
// the picture's own colours. The result is Indexed8. The dithering runs in
// bands of rows on up to `threads` threads (0: one per core), for when one
// picture is all there is to do.
Status QuantizeImage(const QImage& image, int colours, QImage* out, int threads = 0);

}  // namespace velda
