#pragma once

#include <QImage>

namespace velda {

class Picbuf;

// Blends source into target (RGB32 or ARGB32) through mask. A picture with
// origin (-x, -y) lands at (x, y) of the target; fractional positions round
// to the nearest pixel. With mask grey level g (a colour mask weighs by its
// luminance, a source with alpha by its alpha as well):
//   result = target * (255 - g) / 255 + source * g / 255, rounded.
// Source pixels outside the mask, or outside the target, are not drawn.
void BlendThroughMask(QImage& target, const QImage& source, double sourceXorigin,
                      double sourceYorigin, const QImage& mask, double maskXorigin,
                      double maskYorigin);

// Where the watermark goes, as the control panel gives it.
struct WatermarkPlacement {
    bool centre = false;   // centre the watermark; x and y ignored
    bool percent = false;  // x and y are percent of the target's size
    double x = 0;          // the watermark's left edge
    double y = 0;          // the watermark's top edge
};

// The pixel a picture with this origin starts at: -origin to the nearest
// pixel, positions far beyond any picture pinned.
long PlacedAt(double origin);

// The placement offset of a watermark of size wX x wY on a dX x dY target.
// Centred: (dX - wX) / 2 truncated toward zero; percent: x / 100 * dX with
// its fraction; pixels: x as it is.
void PlacementOffset(const WatermarkPlacement& p, int dX, int dY, int wX, int wY, double* ox,
                     double* oy);

// Blends watermark through mask into target at the placement. Sets the
// target's origin to 0 and the watermark's and mask's to (-ox, -oy). With
// no watermark or no mask the target stays as it was.
void ApplyImageWatermark(Picbuf& target, Picbuf& watermark, Picbuf& mask,
                         const WatermarkPlacement& placement);

}  // namespace velda
