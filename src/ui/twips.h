#pragma once

#include <QRect>
#include <QWidget>

namespace velda {

// Twips (1/1440 inch) to pixels at the screen's logical resolution: 15 twips
// a pixel at 96 dpi.
int TwipsToPixels(int twips);
QRect TwipsRect(int left, int top, int width, int height);

// Creates a widget of type W named name at a place given in twips.
template <class W, class... Args>
W* Place(QWidget* parent, const char* name, int left, int top, int width, int height,
         Args&&... args) {
    W* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(TwipsRect(left, top, width, height));
    return w;
}

}  // namespace velda
