#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

#include "imaging/status.h"

namespace velda {

class Picbuf;

// One line of text to draw into a picture.
struct TextRun {
    QString text;
    QRect rect;  // left, top; the height is the text's line height in pixels
    QRgb colour = qRgb(255, 255, 255);
    QString fontName;
    bool bold = true;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool transparent = true;  // only the glyphs, no background box
    int outline = 0;          // pixels of outline in the contrasting tone around each glyph
    bool shadow = false;      // a soft drop shadow below and right of the glyphs
    // Glyphs filled as outlines rather than from the thread's glyph cache,
    // whose pictures differ with what the thread drew before: the same
    // pixels on every thread and in every order.
    bool asOutlines = false;
};

// The tone that stands out against a colour: black on light, white on dark.
QRgb ContrastingTone(QRgb colour);

// Draws the run, antialiased. The line height (the font's ascent plus
// descent) is made equal to rect.height() pixels, and the line's top is at
// rect.top(), so capitals stand about 0.7 of that height tall.
Status DrawTextRun(QImage& image, const TextRun& run);

// A colour in the Windows layout read from hexadecimal text: the lowest byte
// is red, so "0000FF" is red and "FF0000" blue. "&H" before the digits is
// allowed. Nothing when the text is not a hexadecimal number of at most six
// digits.
std::optional<QRgb> ParseWindowsColour(const QString& text);

// The six digits ParseWindowsColour reads back as this colour.
QString WindowsColourText(QRgb colour);

// The colour for ForeColor ("&H" + digits); a text that is not a colour
// draws white rather than stopping anything.
QRgb ParseForeColor(const QString& foreColor);

// How the control panel's text settings reach DrawTextWatermark.
struct TextStyle {
    bool pixels = false;  // x and y in pixels; otherwise in percent
    QString colour;       // six hexadecimal digits, Windows order (Textclr)
    QString font;         // font family name; empty means "Arial"
};

// The run DrawTextWatermark draws for these settings on a picture of
// width x height pixels.
TextRun TextWatermarkRun(const QString& text, int x, int y, int size, int width, int height,
                         const TextStyle& style);

// The text as one line: tabs, line breaks and other control characters
// (tokens bring them from a photo's metadata) become spaces.
QString OneLineText(const QString& text);

// The run as one line, cut after what can reach within room pixels of its
// left edge: a line of any length costs what the picture can show. A line
// that fits is left as it is. DrawTextRun does this for its own picture.
TextRun FitRunTo(TextRun run, qreal room);

// The working memory DrawTextRun needs beyond the picture (the shadow's
// pictures), on a picture of this size.
qint64 TextWorkingBytes(const TextRun& run, QSize picture);

// Every pixel DrawTextRun may touch for this run, antialiasing included.
QRect TextRunBounds(const TextRun& run);

// The run's box: its advance width by its line height.
QSize TextRunSize(const TextRun& run);

// Draws one line of text onto target at (x, y): pixels, or percent of the
// picture's width and height (whole hundredths first: on a 250-pixel-wide
// picture 10 % is 20). Bold, antialiased, transparent background, size as
// the line height in pixels. Blank text draws nothing.
void DrawTextWatermark(Picbuf& target, const QString& text, int x, int y, int size, int width,
                       int height, const TextStyle& style);

// The font names offered for the text: the installed font families, at
// most 200 when there are more than 300, without "Courier" and without
// fonts that are only stand-ins for it. Needs a running QGuiApplication.
QStringList FillFontList();

}  // namespace velda
