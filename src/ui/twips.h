#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>

namespace velda {

// Twips (1/1440 inch) to pixels at the screen's logical resolution: 15 twips
// a pixel at 96 dpi.
int TwipsToPixels(int twips);

// The forms are laid out in twips for an 8-point dialog font whose average
// character is 6 x 13 pixels at 96 dpi. Like dialog units, positions and
// sizes are scaled by the ratio of the form's own font (measured: average
// character width and line height) to that one, so that every caption fits
// whatever the font and resolution, and the layout keeps its proportions.
class FormUnits {
  public:
    explicit FormUnits(const QFont& font);
    int X(int twips) const;
    int Y(int twips) const;
    QRect Rect(int left, int top, int width, int height) const;

  private:
    double sx_, sy_;  // pixels per twip
};

// Creates a widget of type W named name at a place given in twips, in the
// parent's form units.
template <class W, class... Args>
W* Place(QWidget* parent, const char* name, int left, int top, int width, int height,
         Args&&... args) {
    W* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(FormUnits(parent->font()).Rect(left, top, width, height));
    return w;
}

}  // namespace velda
