#pragma once

// Values that settings hold and the engine takes, with their text forms.
#include <QString>
#include <QtGlobal>
#include <optional>

namespace velda {

// A distance: pixels, or a percent of the picture's extent ("12", "5%").
struct Length {
    double value = 0;
    bool percent = false;
    double Pixels(int extent) const { return percent ? value / 100.0 * extent : value; }
};
std::optional<Length> ParseLength(const QString& text);
// A plain number within [min, max]; nothing for any other text.
std::optional<double> ParseNumberIn(const QString& text, double min, double max);

// How a result is resized: never enlarged, its proportions kept.
struct ResizeTarget {
    enum class Kind { None, Long, Short, Width, Height, Fit };
    Kind kind = Kind::None;
    int width = 0, height = 0;  // the length asked for (Fit: the box)
    bool operator==(const ResizeTarget&) const = default;
};
// "long:2048", "short:1080", "width:1200", "height:800", "fit:1920x1080";
// an empty text is None.
std::optional<ResizeTarget> ParseResizeTarget(const QString& text);
QString ResizeTargetText(const ResizeTarget& table);

// A file size: bytes, or with k or M for thousands or millions of them
// ("150k", "2M", "1.5M"); from 1 kB to 1 GB.
std::optional<qint64> ParseByteSize(const QString& text);
// The shortest of those forms for a size.
QString ByteSizeText(qint64 bytes);

}  // namespace velda
