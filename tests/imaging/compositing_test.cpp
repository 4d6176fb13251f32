#include <gtest/gtest.h>

#include <cmath>

#include "imaging/compositing.h"
#include "imaging/loaders.h"
#include "imaging/picbuf.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

Picbuf Uniform(int w, int h, QRgb c) {
    Picbuf p;
    EXPECT_TRUE(p.CreatePicture(24, w, h, c).ok());
    return p;
}

TEST(Placement, OriginsFollowTheCentredPercentAndPixelRules) {
    Picbuf target = Uniform(640, 480, qRgb(0, 0, 0));
    Picbuf wm = Uniform(101, 51, qRgb(255, 255, 255));
    Picbuf mask = Uniform(101, 51, qRgb(128, 128, 128));
    target.Xorigin = 7;
    ApplyImageWatermark(target, wm, mask, {.centre = true});
    EXPECT_EQ(target.Xorigin, 0);
    EXPECT_EQ(wm.Xorigin, -269);
    EXPECT_EQ(wm.Yorigin, -214);
    EXPECT_EQ(mask.Xorigin, -269);
    EXPECT_EQ(mask.Yorigin, -214);

    ApplyImageWatermark(target, wm, mask, {.percent = true, .x = 50, .y = 25});
    EXPECT_EQ(wm.Xorigin, -320);
    EXPECT_EQ(wm.Yorigin, -120);
    ApplyImageWatermark(target, wm, mask, {.percent = true, .x = 12.5, .y = 0});
    EXPECT_EQ(wm.Xorigin, -80);
    ApplyImageWatermark(target, wm, mask, {.x = -10, .y = 3});
    EXPECT_EQ(wm.Xorigin, 10);
    EXPECT_EQ(mask.Yorigin, -3);

    // Centring truncates toward zero: one pixel wider gives 0, three give -1.
    double ox = 0, oy = 0;
    PlacementOffset({.centre = true}, 100, 100, 101, 103, &ox, &oy);
    EXPECT_EQ(ox, 0);
    EXPECT_EQ(oy, -1);
}

TEST(Blend, MixesThroughTheMaskGreyLevelExactly) {
    // Every grey level against a reference computed in doubles.
    for (int g = 0; g <= 255; ++g) {
        Picbuf target = Uniform(3, 1, qRgb(10, 200, 255));
        Picbuf wm = Uniform(3, 1, qRgb(250, 0, 77));
        Picbuf mask = Uniform(3, 1, qRgb(g, g, g));
        ApplyImageWatermark(target, wm, mask, {});
        const QRgb got = target.image().pixel(1, 0);
        auto ref = [g](int t, int w) {
            return static_cast<int>(std::floor((t * (255.0 - g) + w * g) / 255.0 + 0.5));
        };
        ASSERT_EQ(qRed(got), ref(10, 250)) << g;
        ASSERT_EQ(qGreen(got), ref(200, 0)) << g;
        ASSERT_EQ(qBlue(got), ref(255, 77)) << g;
    }
    // A colour mask weighs by its luminance; pure green weighs 150/256.
    Picbuf target = Uniform(1, 1, qRgb(0, 0, 0));
    Picbuf wm = Uniform(1, 1, qRgb(255, 255, 255));
    Picbuf mask = Uniform(1, 1, qRgb(0, 255, 0));
    ApplyImageWatermark(target, wm, mask, {});
    EXPECT_EQ(qRed(target.image().pixel(0, 0)), (150 * 255 + 128) >> 8);
}

TEST(Blend, ClipsToTargetAndMaskAndWeighsByWatermarkAlpha) {
    Picbuf target = Uniform(20, 10, qRgb(0, 0, 0));
    Picbuf wm = Uniform(8, 8, qRgb(255, 255, 255));
    Picbuf mask = Uniform(4, 4, qRgb(255, 255, 255));  // a template smaller than the watermark
    ApplyImageWatermark(target, wm, mask, {.x = 15, .y = 5});
    const QImage& img = target.image();
    EXPECT_EQ(img.pixel(15, 5), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(18, 8), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(19, 9), qRgb(0, 0, 0));  // outside the mask: not drawn
    EXPECT_EQ(img.pixel(14, 5), qRgb(0, 0, 0));

    // Far off the picture: nothing drawn, nothing crashes.
    ApplyImageWatermark(target, wm, mask, {.x = -100000, .y = 1e12});
    ApplyImageWatermark(target, wm, mask, {.percent = true, .x = 100, .y = 100});
    EXPECT_EQ(target.image().pixel(0, 0), qRgb(0, 0, 0));

    // A logo with a transparent background blends as its shape.
    QImage logo(4, 1, QImage::Format_ARGB32);
    logo.setPixel(0, 0, qRgba(255, 0, 0, 255));
    logo.setPixel(1, 0, qRgba(255, 0, 0, 0));
    logo.setPixel(2, 0, qRgba(255, 0, 0, 128));
    logo.setPixel(3, 0, qRgba(255, 0, 0, 255));
    Picbuf alphaWm;
    alphaWm.PasteClipboard(Picture{logo, 32, QString()});
    Picbuf back = Uniform(4, 1, qRgb(0, 0, 255));
    Picbuf full = Uniform(4, 1, qRgb(255, 255, 255));
    ApplyImageWatermark(back, alphaWm, full, {});
    EXPECT_EQ(back.image().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(back.image().pixel(1, 0), qRgb(0, 0, 255));
    EXPECT_EQ(back.image().pixel(2, 0), qRgb(128, 0, 127));
}

TEST(Blend, PaletteTargetIsRaisedAndMissingPiecesLeaveItAlone) {
    QImage indexed(4, 4, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(9, 9, 9)});
    indexed.fill(0);
    Picbuf target;
    target.PasteClipboard(Picture{indexed, 1, QString()});
    Picbuf wm = Uniform(2, 2, qRgb(200, 100, 50));
    Picbuf noMask;
    ApplyImageWatermark(target, wm, noMask, {});
    EXPECT_EQ(target.ColorDepth(), 1);  // MaskCopy failed: untouched

    Picbuf mask = Uniform(2, 2, qRgb(255, 255, 255));
    Picbuf noWatermark;
    ApplyImageWatermark(target, noWatermark, mask, {});
    EXPECT_EQ(target.ColorDepth(), 1);

    ApplyImageWatermark(target, wm, mask, {});
    EXPECT_EQ(target.ColorDepth(), 24);
    EXPECT_EQ(target.image().pixel(1, 1), qRgb(200, 100, 50));
    EXPECT_EQ(target.image().pixel(3, 3), qRgb(0, 0, 0));
}

TEST(Loaders, PhotoCdResolutionText) {
    EXPECT_EQ(PhotoCdResolutionFromText(u"Base/16"_s, 3), 1);
    EXPECT_EQ(PhotoCdResolutionFromText(u" Base*16 "_s, 3), 5);
    EXPECT_EQ(PhotoCdResolutionFromText(u"base*4"_s, 2), 2);
}

}  // namespace
}  // namespace velda
