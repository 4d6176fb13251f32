#include <gtest/gtest.h>

#include <QFontDatabase>

#include "imaging/picbuf.h"
#include "imaging/text.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

const QString kFont = u"DejaVu Sans"_s;

Picbuf Black(int w, int h) {
    Picbuf p;
    EXPECT_TRUE(p.CreatePicture(24, w, h, qRgb(0, 0, 0)).ok());
    return p;
}

// The rectangle of pixels that are no longer black.
QRect Inked(const QImage& img) {
    QRect r;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if ((img.pixel(x, y) & 0xFFFFFF) != 0) r |= QRect(x, y, 1, 1);
        }
    }
    return r;
}

TEST(TextWatermark, DrawnWhereAndAsTallAsAsked) {
    for (int size : {12, 40, 100}) {
        Picbuf p = Black(800, 300);
        DrawTextWatermark(p, u"HELLO"_s, 30, 50, size, 800, 300, {true, u"FFFFFF"_s, kFont});
        const QRect r = Inked(p.image());
        ASSERT_FALSE(r.isNull()) << size;
        // Capitals sit inside the line, standing most of its height.
        EXPECT_GE(r.left(), 30) << size;
        EXPECT_LE(r.left(), 30 + size / 4 + 1) << size;
        EXPECT_GE(r.top(), 50) << size;
        EXPECT_LE(r.bottom(), 50 + size) << size;
        EXPECT_GE(r.height(), size * 6 / 10) << size;
        EXPECT_LE(r.height(), size * 85 / 100 + 1) << size;
    }
}

TEST(TextWatermark, PercentUsesWholeHundredthsAndBlankTextDrawsNothing) {
    Picbuf p = Black(640, 480);
    DrawTextWatermark(p, u"I"_s, 50, 50, 30, 640, 480, {false, u"FFFFFF"_s, kFont});
    EXPECT_EQ(p.SelectLeft, 300);
    EXPECT_EQ(p.SelectTop, 200);
    EXPECT_GE(Inked(p.image()).left(), 300);

    Picbuf narrow = Black(250, 90);
    DrawTextWatermark(narrow, u"I"_s, 10, 10, 20, 250, 90, {false, u"FFFFFF"_s, kFont});
    EXPECT_EQ(narrow.SelectLeft, 20);
    EXPECT_EQ(narrow.SelectTop, 0);

    Picbuf blank = Black(100, 100);
    DrawTextWatermark(blank, u"   "_s, 0, 0, 30, 100, 100, {true, u"FFFFFF"_s, kFont});
    EXPECT_TRUE(Inked(blank.image()).isNull());
    DrawTextWatermark(blank, u"X"_s, 0, 0, 0, 100, 100, {true, u"FFFFFF"_s, kFont});
    EXPECT_TRUE(Inked(blank.image()).isNull());
}

TEST(TextWatermark, ColourInWindowsByteOrderAndBadColoursNeverStop) {
    auto colourOf = [](const QString& textclr) {
        Picbuf p = Black(200, 80);
        DrawTextWatermark(p, u"\u2588\u2588"_s, 5, 5, 60, 200, 80, {true, textclr, kFont});
        // The most saturated pixel is the glyph's own colour.
        QRgb best = 0;
        int bestSum = -1;
        for (int y = 0; y < 80; ++y) {
            for (int x = 0; x < 200; ++x) {
                const QRgb c = p.image().pixel(x, y);
                if (qRed(c) + qGreen(c) + qBlue(c) > bestSum) {
                    bestSum = qRed(c) + qGreen(c) + qBlue(c);
                    best = c;
                }
            }
        }
        return best & 0xFFFFFF;
    };
    EXPECT_EQ(colourOf(u"0000FF"_s), qRgb(255, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(colourOf(u"FF0000"_s), qRgb(0, 0, 255) & 0xFFFFFF);
    EXPECT_EQ(colourOf(u"10"_s), qRgb(16, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(colourOf(u"zz"_s), qRgb(255, 255, 255) & 0xFFFFFF);
    EXPECT_FALSE(ParseWindowsColour(QString()).has_value());
    EXPECT_EQ(ParseWindowsColour(u"&H0080FF"_s), qRgb(255, 128, 0));
}

TEST(TextWatermark, PaletteTargetRaisedAndHugeNumbersHarmless) {
    QImage grey(50, 50, QImage::Format_Indexed8);
    grey.setColorTable({qRgb(0, 0, 0)});
    grey.fill(0);
    Picbuf p;
    p.PasteClipboard(Picture{grey, 8, QString()});
    DrawTextWatermark(p, u"A"_s, 0, 0, 40, 50, 50, {true, u"FFFFFF"_s, kFont});
    EXPECT_EQ(p.ColorDepth(), 24);
    EXPECT_FALSE(Inked(p.image()).isNull());
    DrawTextWatermark(p, u"A"_s, 32767, -32768, 32767, 50, 50,
                      {true, u"FFFFFF"_s, u"No Such Font"_s});
    DrawTextWatermark(p, u"A"_s, 32767, 32767, 20, 50, 50, {false, u"FFFFFF"_s, QString()});
}

TEST(TextWatermark, BoundsHoldEveryPixelDrawn) {
    // What is re-encoded around text is what the bounds say: a glyph that
    // reached past them would be lost from a file that keeps its blocks.
    for (const char* font : {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"}) {
        for (int size : {6, 13, 40, 151}) {
            SCOPED_TRACE(std::string(font) + " " + std::to_string(size));
            QImage image(1400, 400, QImage::Format_RGB32);
            image.fill(qRgb(0, 0, 0));
            const QImage blank = image;
            TextStyle style;
            style.pixels = true;
            style.colour = u"FFFFFF"_s;
            style.font = QString::fromLatin1(font);
            const TextRun run =
                TextWatermarkRun(u"Wjgy|/(c) Qf_"_s, 11, 17, size, 1400, 400, style);
            ASSERT_TRUE(DrawTextRun(image, run).ok());
            const QRect bounds = TextRunBounds(run);
            int drawn = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    if (image.pixel(x, y) == blank.pixel(x, y)) continue;
                    ++drawn;
                    ASSERT_TRUE(bounds.contains(x, y)) << x << "," << y;
                }
            EXPECT_GT(drawn, size);
            // And not much more: a box twice the text's would re-encode for nothing.
            EXPECT_LT(bounds.height(), 2 * size + 8);
        }
    }
}

TEST(TextWatermark, ALineOfAnyLengthIsCutToWhatThePictureShows) {
    // Outline and shadow on a line far wider than the picture: drawn as
    // its first characters are, pixel for pixel, and no slower for it.
    TextRun run;
    run.rect = QRect(20, 10, 10000, 60);
    run.fontName = kFont;
    run.outline = 3;
    run.shadow = true;
    run.colour = qRgb(250, 250, 250);
    QString line;
    for (int i = 0; line.size() < 400'000; ++i)
        line += u"(c) Ada Lovelace %1 "_s.arg(i);
    QImage whole(700, 90, QImage::Format_RGB32), cut = whole;
    whole.fill(qRgb(40, 80, 120));
    cut.fill(qRgb(40, 80, 120));
    // Qt's first text of a process comes out a shade apart from later ones.
    run.text = line.left(200);
    QImage warm = whole;
    ASSERT_TRUE(DrawTextRun(warm, run).ok());
    run.text = line;
    ASSERT_TRUE(DrawTextRun(whole, run).ok());
    run.text = line.left(200);
    ASSERT_TRUE(DrawTextRun(cut, run).ok());
    EXPECT_EQ(whole, cut);
    EXPECT_LT(FitRunTo(run, 700).text.size(), 200);
    // The shadow's working pictures keep to the picture, however wide the
    // line would be.
    run.text = line;
    EXPECT_LE(TextWorkingBytes(FitRunTo(run, 700), QSize(700, 90)), 5 * 760 * 150);
    // A short line is never touched, and a right-to-left one only where it
    // could never show.
    run.text = u"short"_s;
    EXPECT_EQ(FitRunTo(run, 700).text, u"short"_s);
    run.text = QString(5000, QChar(0x05D0));
    EXPECT_LT(FitRunTo(run, 700).text.size(), 1200);
    EXPECT_GT(FitRunTo(run, 700).text.size(), 700);
}

TEST(TextWatermark, TabsAndLineBreaksAreSpacesAndTheOutlineStaysUnderTheFill) {
    TextRun run;
    run.rect = QRect(30, 10, 10000, 40);
    run.fontName = kFont;
    run.colour = qRgb(255, 255, 255);
    auto draw = [&](const QString& text, int outline) {
        QImage image(900, 70, QImage::Format_RGB32);
        image.fill(qRgb(0, 0, 0));
        run.text = text;
        run.outline = outline;
        EXPECT_TRUE(DrawTextRun(image, run).ok());
        return image;
    };
    const QImage spaced = draw(u"Ada Lovelace 1843"_s, 0);
    EXPECT_EQ(draw(u"Ada\tLovelace\n1843"_s, 0), spaced);
    EXPECT_EQ(draw(u"Ada\rLovelace\u20281843"_s, 0), spaced);
    // The outline hugs the glyphs: it starts no further left than its width.
    const QRect fill = Inked(spaced), outlined = Inked(draw(u"Ada\tLovelace\n1843"_s, 4));
    EXPECT_GE(outlined.left(), fill.left() - 5);
    EXPECT_LE(outlined.right(), fill.right() + 5);
}

TEST(FontList, OffersInstalledFamiliesWithoutCourier) {
    const QStringList fonts = FillFontList();
    EXPECT_TRUE(fonts.contains(kFont));
    EXPECT_FALSE(fonts.contains(u"Courier"_s));
    EXPECT_LE(fonts.size(), 300);
}

}  // namespace
}  // namespace velda
