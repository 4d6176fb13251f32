#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/values.h"

namespace velda {

// A corner or edge of the picture; None keeps the classic placement.
enum class Anchor {
    None,
    TopLeft,
    Top,
    TopRight,
    Left,
    Centre,
    Right,
    BottomLeft,
    Bottom,
    BottomRight
};
// The picture measure a relative mark size refers to.
enum class Measure { Width, Height, Short, Long };

// How the marks fit each picture, beyond the classic fixed placement.
struct MarkLayout {
    double watermarkSize = 0;  // percent of sizeOf; 0: the watermark's own size
    Measure sizeOf = Measure::Width;
    Anchor anchor = Anchor::None;
    Length marginX, marginY;
    bool tile = false;
    double tileGap = 50;   // percent of the watermark's width and height
    double tileAngle = 0;  // degrees, counter-clockwise
    double textSize = 0;   // percent of the shorter edge; 0: the classic size
    Anchor textAnchor = Anchor::None;
    Length textMarginX, textMarginY;
    int textOutline = 0;  // pixels
    bool textShadow = false;
    bool textAutoTone = false;

    bool Classic() const {
        return watermarkSize <= 0 && anchor == Anchor::None && !tile && textSize <= 0 &&
               textAnchor == Anchor::None && textOutline <= 0 && !textShadow && !textAutoTone;
    }
};

// Marks smaller than this are left out rather than drawn as a smudge.
inline constexpr int kSmallestMark = 8;

// The top-left corner of a box anchored in the picture, margins counted
// from the anchored edges (a percent margin of the picture's width or
// height); an edge's other axis, and the centre, are centred.
QPoint AnchoredAt(Anchor anchor, Length marginX, Length marginY, QSize picture, QSize box);

// The watermark's size on this picture: its own, or scaled to the
// relative size with its proportions kept.
QSize MarkSizeOn(const MarkLayout& layout, QSize picture, QSize own);

// The top-left corners of the tiles covering the picture: a lattice of
// cells of the mark's size plus the gap, turned by the angle about the
// picture's centre, where one tile sits. turned is the size of the turned
// tile picture, whose centre is the tile's centre.
std::vector<QPoint> TileOrigins(QSize picture, QSize mark, QSize turned, double gapPercent,
                                double angle);

// The watermark and its mask as they are drawn on pictures of one size:
// scaled and turned once per size, not once per picture.
struct PreparedMark {
    QImage watermark, mask;  // null: left out (under kSmallestMark pixels)
};
class MarkPictures {
  public:
    MarkPictures(QImage watermark, QImage mask, const MarkLayout& layout)
        : watermark_(std::move(watermark)), mask_(std::move(mask)), layout_(layout) {}
    // Safe to call from several threads at once.
    std::shared_ptr<const PreparedMark> For(QSize picture) const;

  private:
    QImage watermark_, mask_;
    MarkLayout layout_;
    mutable std::mutex mutex_;
    mutable std::map<std::pair<int, int>, std::shared_ptr<const PreparedMark>> cache_;
};

}  // namespace velda
