// Results held to the byte: a matrix of deterministic pictures and settings
// whose result digests were recorded in tests/data/golden.txt ("case file
// digest", a line each) from a build known to be right. Any change of the
// engine that alters what a user gets shows here; a change meant to alter it
// records the table anew (VELDA_GOLDEN_PRINT=1 prints it).
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPainter>

#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

struct Case {
    const char* name;
    std::initializer_list<const char*> args;
};

// Every output format at every depth it is written at, with the classic
// placement; then each way of placing and drawing the marks.
const Case kCases[] = {
    {"jpg", {"--format", "jpg", "--quality", "83"}},
    {"tif24", {"--format", "tif"}},
    {"tif8", {"--format", "tif", "--depth", "8"}},
    {"tif4", {"--format", "tif", "--depth", "4"}},
    {"tga24", {"--format", "tga"}},
    {"tga8", {"--format", "tga", "--depth", "8"}},
    {"tga4", {"--format", "tga", "--depth", "4"}},
    {"bmp24", {"--format", "bmp"}},
    {"bmp8", {"--format", "bmp", "--depth", "8"}},
    {"bmp4", {"--format", "bmp", "--depth", "4"}},
    {"pcx24", {"--format", "pcx"}},
    {"pcx8", {"--format", "pcx", "--depth", "8"}},
    {"pcx4", {"--format", "pcx", "--depth", "4"}},
    {"gif", {"--format", "gif"}},
    {"png24", {"--format", "png"}},
    {"png8", {"--format", "png", "--depth", "8"}},
    {"png4", {"--format", "png", "--depth", "4"}},
    {"webp", {"--format", "webp", "--quality", "80"}},
    {"webp-lossless", {"--format", "webp", "--webp-lossless"}},
    {"percent",
     {"--set", "ImagePercent=True", "--set", "wx=40", "--set", "wy=60", "--set", "TextPercent=True",
      "--set", "tx=10", "--set", "ty=70"}},
    {"centre", {"--set", "CentreWatermark=1"}},
    {"template", {"--set", "TemplateFile=@/mask.png"}},
    {"mix", {"--set", "MixValue=90"}},
    {"anchored",
     {"--set", "WatermarkSize=25", "--set", "WatermarkSizeOf=short", "--set", "Anchor=BR", "--set",
      "MarginX=3%", "--set", "MarginY=4", "--set", "TextSize=6", "--set", "TextAnchor=BL", "--set",
      "TextMarginX=2%"}},
    {"tiled",
     {"--set", "Tile=True", "--set", "TileGap=40", "--set", "TileAngle=0", "--set",
      "WatermarkSize=12"}},
    {"text-effects",
     {"--set", "TextOutline=2", "--set", "TextShadow=True", "--set", "TextAutoTone=True", "--set",
      "TextSize=8"}},
    {"tokens", {"--set", "Text=(c) {name} {counter:3}"}},
    {"lossless", {"--lossless"}},
    {"strip", {"--strip-metadata"}},
    // Resized as before the filter could be chosen, then as by default.
    {"resized", {"--resize", "long:150", "--set", "ResizeFilter=area"}},
    {"resized-png", {"--resize", "fit:100x100", "--format", "png", "--set", "ResizeFilter=area"}},
    {"resized-lanczos", {"--resize", "long:150"}},
    {"resized-lanczos-png", {"--resize", "fit:100x100", "--format", "png"}},
};

class GoldenTest : public test::BatchFolders {
  protected:
    void SetUp() override {
        // A photograph-like picture as PNG and as JPEG (with EXIF), a
        // palette GIF, a watermark with soft edges and a template.
        const QImage photo = test::MakePhoto(320, 200);
        ASSERT_TRUE(photo.save(in_ + u"/photo.png"_s));
        ASSERT_TRUE(photo.save(in_ + u"/photo.jpg"_s, "JPEG", 90));
        test::Run(u"exiv2"_s, {u"-Mset Exif.Image.Make GoldenCam"_s,
                               u"-Mset Exif.Image.Artist Ada"_s, in_ + u"/photo.jpg"_s});
        test::Run(test::ConvertTool(), {in_ + u"/photo.png"_s, u"-colors"_s, u"64"_s, u"+dither"_s,
                                        in_ + u"/palette.gif"_s});
        QImage wm(60, 30, QImage::Format_ARGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 60; ++x)
                wm.setPixel(x, y, qRgba(255, 255 - 4 * x, 8 * y, 255 - 3 * x));
        ASSERT_TRUE(wm.save(dir_.filePath(u"wm.png"_s)));
        QImage mask(60, 30, QImage::Format_Grayscale8);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 60; ++x)
                mask.setPixel(x, y, qRgb(4 * x, 4 * x, 4 * x));
        ASSERT_TRUE(mask.save(dir_.filePath(u"mask.png"_s)));
        test::WriteAll(ini_,
                       "[MainVeldaDetails]\nWaterMarkFile=" + dir_.filePath(u"wm.png"_s).toUtf8() +
                           "\nMixValue=200\nwx=30\nwy=20\nText=(c) Golden\n"
                           "Textclr=00FFFF\nTextPercent=False\ntx=12\nty=150\nts=24\n"
                           "tfont=DejaVu Sans\nJPEGValue=88\n");
    }
};

TEST_F(GoldenTest, EveryResultIsTheRecordedOneToTheByte) {
    QStringList got;
    for (const Case& c : kCases) {
        QStringList args = {u"--settings"_s, ini_, u"--jobs"_s, u"1"_s, u"-q"_s};
        for (const char* a : c.args)
            args.append(QString::fromUtf8(a).replace(u"@"_s, dir_.path()));
        const QString out = dir_.filePath(u"out-"_s + QString::fromLatin1(c.name));
        const test::BatchResult r = test::RunVeldaBatch(args + QStringList{in_, out});
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.out.toStdString() << r.err.toStdString();
        for (const QString& f : QDir(out).entryList(QDir::Files, QDir::Name)) {
            const QByteArray digest =
                QCryptographicHash::hash(test::ReadAll(out + u'/' + f), QCryptographicHash::Sha256)
                    .toHex()
                    .left(24);
            got.append(QString::fromLatin1(c.name) + u' ' + f + u' ' + QString::fromLatin1(digest));
        }
    }
    if (qEnvironmentVariableIsSet("VELDA_GOLDEN_PRINT")) {
        for (const QString& line : got)
            printf("%s\n", qPrintable(line));
    }
    const QStringList expected =
        QString::fromLatin1(test::ReadAll(QStringLiteral(VELDA_TEST_DATA "/golden.txt")))
            .split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(got.size(), expected.size());
    for (qsizetype i = 0; i < std::min(got.size(), expected.size()); ++i)
        EXPECT_EQ(got[i], expected[i]);
}

}  // namespace
}  // namespace velda
