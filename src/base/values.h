#pragma once

// Values that settings hold and the engine takes, with their text forms.
#include <QString>
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

}  // namespace velda
