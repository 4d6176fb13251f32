#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>

#include "imaging/loaders.h"
#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

int DistinctColours(const QImage& img) {
    QSet<QRgb> seen;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x)
            seen.insert(img.pixel(x, y));
    }
    return static_cast<int>(seen.size());
}

TEST(Picbuf, ReduceAndIncreaseColours) {
    Picbuf p;
    p.PasteClipboard(Picture{test::MakePhoto(200, 150), 24, QString()});
    const QImage original = p.image();
    ASSERT_TRUE(p.ReduceColors(256).ok());
    EXPECT_EQ(p.ColorDepth(), 8);
    EXPECT_EQ(p.image().format(), QImage::Format_Indexed8);
    EXPECT_LE(p.image().colorCount(), 256);
    EXPECT_GT(test::Psnr(original, p.image()), 30.0);

    ASSERT_TRUE(p.ReduceColors(16).ok());
    EXPECT_EQ(p.ColorDepth(), 4);
    EXPECT_LE(DistinctColours(p.image()), 16);
    EXPECT_GT(test::Psnr(original, p.image()), 20.0);

    ASSERT_TRUE(p.IncreaseColors(8).ok());  // the palette already fits
    EXPECT_EQ(p.ColorDepth(), 8);
    ASSERT_TRUE(p.IncreaseColors(24).ok());
    EXPECT_EQ(p.ColorDepth(), 24);
    EXPECT_EQ(p.image().format(), QImage::Format_RGB32);
    EXPECT_EQ(p.ReduceColors(64).code(), ErrorCode::BadArgument);

    Picbuf empty;
    EXPECT_EQ(empty.ReduceColors(256).code(), ErrorCode::NoPicture);
    EXPECT_EQ(empty.IncreaseColors(24).code(), ErrorCode::NoPicture);
    EXPECT_EQ(empty.ColorDepth(), 0);
    EXPECT_EQ(empty.CreatePicture(8, 2, 2, 0).code(), ErrorCode::BadArgument);
    EXPECT_EQ(empty.CreatePicture(24, 0, 2, 0).code(), ErrorCode::BadArgument);
}

TEST(Picbuf, CopyAndPasteAreIndependentAndLeaveTheClipboardAlone) {
    QGuiApplication::clipboard()->setText(u"the user's own text"_s);
    Picbuf a;
    ASSERT_TRUE(a.CreatePicture(24, 4, 4, qRgb(1, 2, 3)).ok());
    a.FileName = u"/x/a.png"_s;
    Picbuf b;
    b.PasteClipboard(a.CopyClipboard());
    ASSERT_TRUE(b.CreatePicture(24, 4, 4, qRgb(9, 9, 9)).ok());
    EXPECT_EQ(a.image().pixel(0, 0), qRgb(1, 2, 3));
    Picbuf c;
    c.PasteClipboard(a.CopyClipboard());
    ASSERT_TRUE(c.ReduceColors(16).ok());
    EXPECT_EQ(a.ColorDepth(), 24);
    a.ClearPicture();
    EXPECT_FALSE(a.HasPicture());
    EXPECT_TRUE(a.FileName.isEmpty());
    EXPECT_TRUE(c.HasPicture());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"the user's own text"_s);
}

TEST(Loaders, WatermarkAndTemplateLoadRaisedToTrueColourThroughTheRightPath) {
    QTemporaryDir dir;
    const QString png = dir.filePath(u"wm.png"_s);
    ASSERT_TRUE(test::MakePhoto(30, 20).save(png));
    const QString gif = dir.filePath(u"WM.GIF"_s);
    test::Run(test::ConvertTool(), {png, u"-colors"_s, u"16"_s, gif});
    const QString tmpl = dir.filePath(u"mask.png"_s);
    test::Run(test::ConvertTool(),
              {png, u"-colorspace"_s, u"Gray"_s, u"-define"_s, u"png:color-type=0"_s, tmpl});

    Lead lead;
    Picbuf wm, mask;
    Status s;
    EXPECT_EQ(LoadWatermarkPicture(gif, wm, mask, 90, &s), LoadOutcome::Loaded);
    EXPECT_EQ(wm.ColorDepth(), 24);
    EXPECT_EQ(wm.FileName, gif);
    EXPECT_EQ(mask.Xresolution(), 30);
    EXPECT_EQ(mask.image().pixel(0, 0), qRgb(90, 90, 90));

    EXPECT_EQ(LoadTemplatePicture(tmpl, mask, &s), LoadOutcome::Loaded);
    EXPECT_EQ(mask.ColorDepth(), 24);
    EXPECT_EQ(mask.FileName, tmpl);

    // A watermark that is not a picture fails and says why.
    const QString junk = dir.filePath(u"junk.png"_s);
    test::WriteAll(junk, "junk");
    EXPECT_EQ(LoadWatermarkPicture(junk, wm, mask, 90, &s), LoadOutcome::Failed);
    EXPECT_EQ(s.code(), ErrorCode::NotAPicture);
    EXPECT_EQ(wm.FileName, junk);
    EXPECT_EQ(wm.ColorDepth(), 24);  // the buffer keeps what it had

    // GIF out through LEAD from a true-colour picture: 8 bits per pixel.
    const QString out = dir.filePath(u"out.gif"_s);
    ASSERT_TRUE(SaveThroughLead(out, wm, lead).ok());
    EXPECT_EQ(test::Identify(out, u"%m %w %h"_s), u"GIF 30 20"_s);
    lead.Paste(wm.CopyClipboard());
    EXPECT_EQ(lead.Save(out, 3, 8, 11, false).code(), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace velda
