// Colour reduction on a real photograph: how close it stays, that rare
// colours survive, and that GIF keeps transparency for an independent reader.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>
#include <cmath>

#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "imaging/quantize.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

TEST(Quantize, RealPhotoStaysCloseAndRareColoursSurvive) {
    Picture photo;
    ASSERT_TRUE(
        LoadPicture(u"/usr/share/backgrounds/Picture_0B_by_freespace.jpg"_s, 3, &photo).ok());
    // A one-pixel line of magenta: a few thousand pixels of millions.
    QImage marked = photo.image;
    {
        QPainter painter(&marked);
        painter.setPen(QPen(QColor(255, 0, 255), 1));
        painter.drawLine(10, 901, 2500, 901);
    }
    for (const auto& [colours, floor] : {std::pair{256, 34.0}, {16, 25.0}}) {
        SCOPED_TRACE(colours);
        QImage one, two;
        ASSERT_TRUE(QuantizeImage(marked, colours, &one, 1).ok());
        ASSERT_TRUE(QuantizeImage(marked, colours, &two, 2).ok());
        ASSERT_EQ(one.format(), QImage::Format_Indexed8);
        EXPECT_LE(one.colorCount(), colours);
        EXPECT_GT(test::Psnr(marked, one), floor);
        // Dithering in bands on two threads costs nothing measurable.
        EXPECT_NEAR(test::Psnr(marked, two), test::Psnr(marked, one), 0.2);
        EXPECT_EQ(two.colorTable(), one.colorTable());
        // With 256 colours the line keeps a magenta of its own, not the
        // nearest of the photo's colours.
        if (colours < 256) continue;
        int red = 0;
        for (int x = 10; x <= 2500; ++x) {
            const QRgb c = one.color(one.pixelIndex(x, 901));
            if (qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) > 200) ++red;
        }
        EXPECT_GT(red, 2000) << "of 2491";
    }
}

TEST(Quantize, GifKeepsTransparencyForAnIndependentReader) {
    QTemporaryDir dir;
    // Large enough for the fast path, with a transparent hole in the middle.
    QImage logo = test::MakePhoto(400, 300).convertToFormat(QImage::Format_ARGB32);
    for (int y = 100; y < 200; ++y)
        for (int x = 150; x < 250; ++x)
            logo.setPixel(x, y, qRgba(0, 0, 0, 0));
    Picbuf p;
    p.PasteClipboard(Picture{logo, 32, QString()});
    ASSERT_TRUE(p.ReduceColors(256).ok());
    p.ImageFormat = Format(FormatId::Gif).code;
    p.FileName = dir.filePath(u"logo.gif"_s);
    ASSERT_TRUE(p.Store().ok());
    const QString seen = test::Python(
        QStringLiteral("import sys\nfrom PIL import Image\n"
                       "im = Image.open(sys.argv[1])\n"
                       "t = im.info.get('transparency')\n"
                       "print(im.size, im.mode, im.getpixel((200, 150)) == t, "
                       "im.getpixel((10, 10)) == t, im.convert('RGBA').getpixel((10, 10))[3])"),
        {p.FileName});
    EXPECT_EQ(seen.trimmed(), u"(400, 300) P True False 255"_s);
}

}  // namespace
}  // namespace velda
