#include "ui/twips.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace velda {

namespace {

// The dialog font the twips were laid out for, at 96 dpi (15 twips a pixel):
// its measured average is a little under six pixels.
constexpr double kDesignCharWidth = 5.75;
constexpr double kDesignCharHeight = 13.0;

}  // namespace

int TwipsToPixels(int twips) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

FormUnits::FormUnits(const QFont& font) {
    const QFontMetricsF m(font);
    // The average width of the alphabet, as dialog units measure it.
    const double width = m.horizontalAdvance(QStringLiteral(
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                         52.0;
    sx_ = width / kDesignCharWidth / 15.0;
    sy_ = m.height() / kDesignCharHeight / 15.0;
}

int FormUnits::X(int twips) const {
    return static_cast<int>(std::lround(twips * sx_));
}

int FormUnits::Y(int twips) const {
    return static_cast<int>(std::lround(twips * sy_));
}

QRect FormUnits::Rect(int left, int top, int width, int height) const {
    // Edges are scaled, not sizes, so neighbours that touched still touch.
    const int l = X(left), t = Y(top);
    return QRect(l, t, X(left + width) - l, Y(top + height) - t);
}

}  // namespace velda
