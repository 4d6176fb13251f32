#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "base/values.h"
#include "imaging/mark_layout.h"
#include "imaging/status.h"

namespace velda {

// How a mark's colours mix with the picture's under it.
enum class BlendMode { Normal, Multiply, Screen, Overlay, SoftLight };
// The pictures a mark is drawn on.
enum class Shape { Any, Landscape, Portrait, Square };
enum class LineAlign { Left, Centre, Right };

class StackSprites;

// One mark of the stack drawn over the classic watermark and text: a
// picture (raster or SVG) or lines of text, sized to each picture, anchored
// or tiled, turned, and blended at an opacity.
struct StackMark {
    int number = 2;  // its section's number, for notes
    bool isText = false;
    // A picture: its own pixels, or an SVG drawn anew at each size.
    QImage picture;  // premultiplied
    QByteArray svg;
    QSize ownSize;
    // Text: "\n" (backslash, n) or a line break starts a new line.
    QString text;
    QString font;  // empty: Arial
    QRgb colour = qRgb(255, 255, 255);
    bool bold = false;
    LineAlign align = LineAlign::Left;
    int outline = 0;
    bool shadow = false;
    bool autoTone = false;
    std::optional<QRgb> box;  // a box of this colour behind the text
    double boxOpacity = 100;
    int boxPadding = 0;
    // Where and how it is drawn.
    double size = 0;  // percent of sizeOf; 0: a picture's own size, a text 5 % of the short edge
    Measure sizeOf = Measure::Width;
    Anchor anchor = Anchor::Centre;
    Length marginX, marginY;
    bool tile = false;  // pictures only
    double tileGap = 50, tileAngle = 0;
    double rotate = 0;  // degrees, counter-clockwise
    double opacity = 100;
    BlendMode blend = BlendMode::Normal;
    Shape orientation = Shape::Any;
    // A picture's sprites per picture size, shared by every copy of the mark.
    std::shared_ptr<StackSprites> sprites;
};

// A mark as it is drawn on one picture: premultiplied pixels, and the box
// inside them that is anchored (the picture or the text with its box,
// turned with the mark); the pixels around it are antialiasing and shadow.
struct Sprite {
    QImage image;
    QRect box;
};

// Where a mark lands on one picture: its sprite's top-left corners.
struct StackPlacement {
    std::shared_ptr<const Sprite> sprite;  // null: not drawn on this picture
    std::vector<QPoint> at;
};

// Loads a picture mark's file: an SVG (by its name's .svg or .svgz) to be
// drawn anew at each size, any other picture file as LoadPicture reads it.
Status LoadMarkPicture(const QString& path, StackMark* mark);

// Whether the mark is drawn on a picture of this shape.
bool DrawnOn(const StackMark& mark, QSize picture);

// The mark's drawn size on this picture (a text's: its line height as the
// height), or nothing when it is not drawn there: under 8 pixels, or over
// 16384 (a picture's own size that is only a mistake).
QSize StackMarkSize(const StackMark& mark, QSize picture);
bool StackMarkTooSmall(const StackMark& mark, QSize picture);

// The most memory the mark's pictures take while it is drawn on a picture
// of this size, reckoned without drawing it.
qint64 StackMarkBytes(const StackMark& mark, QSize picture);

// Where the mark lands on the picture, its sprite made (a picture's from
// the shared cache). A text in tone is drawn in white until placed.
StackPlacement PlaceStackMark(const StackMark& mark, QSize picture);

// Draws a placed mark into region, a true-colour part of the picture
// whose top-left is at in the picture of this size; a text in tone takes
// black or white from the pixels under it (or its box).
void DrawStackMark(const StackMark& mark, StackPlacement placement, QImage& region, QPoint at,
                   QSize picture);

// Every pixel a placed mark may touch.
QRect PlacementBounds(const StackPlacement& placement);

// White on dark, black on light: whichever stands out from the mean
// brightness of the pixels of box inside the image.
QRgb ToneUnder(const QImage& image, const QRect& box);

// A picture mark's sprites, made once per picture size and shared by all
// the threads of a run.
class StackSprites {
  public:
    std::shared_ptr<const Sprite> For(const StackMark& mark, QSize drawn);

  private:
    std::mutex mutex_;
    std::map<std::pair<int, int>, std::shared_ptr<const Sprite>> cache_;
};

}  // namespace velda
