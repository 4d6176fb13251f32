#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace velda {

int TwipsToPixels(int twips) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

}  // namespace velda
