// Results held to the byte: a matrix of deterministic pictures and settings
// whose result digests were recorded from a build known to be right. Any
// change of the engine that alters what a user gets shows here; a change
// meant to alter it records the table anew (VELDA_GOLDEN_PRINT=1 prints it).
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
     {"--set", "Tile=True", "--set", "TileGap=40", "--set", "TileAngle=30", "--set",
      "WatermarkSize=12"}},
    {"text-effects",
     {"--set", "TextOutline=2", "--set", "TextShadow=True", "--set", "TextAutoTone=True", "--set",
      "TextSize=8"}},
    {"tokens", {"--set", "Text=(c) {name} {counter:3}"}},
    {"lossless", {"--lossless"}},
    {"strip", {"--strip-metadata"}},
    {"resized", {"--resize", "long:150"}},
    {"resized-png", {"--resize", "fit:100x100", "--format", "png"}},
};

// What the build the table was recorded from wrote, case by case: one
// line a result, "case file digest".
const char* const kGolden = R"(
jpg palette.jpg ab3988a84b65c31ce906c687
jpg photo (2).jpg 1113ee4fab2168a4cd1abef9
jpg photo.jpg f72d65695f083a8be829c488
tif24 palette.tif d80572aad7fc906b87cbc6d5
tif24 photo (2).tif 7f10ec26cb5ba08425c8a2ce
tif24 photo.tif 19bfcc7256048fc0d54abdd3
tif8 palette.tif afb9ef1e33a27b3dfcceed4f
tif8 photo (2).tif 853f1372dd46b54cbd68d9e7
tif8 photo.tif b85f28a2b70db0726c1ecaec
tif4 palette.tif ca0414989b9da6049bfcc667
tif4 photo (2).tif 0a9a9758996993384fd1ab5c
tif4 photo.tif 014d78bddec31acaa8b169e4
tga24 palette.tga 73aa820bdf203fbef86ed11f
tga24 photo (2).tga c85d731397cdfafa0e62d4c0
tga24 photo.tga c55dca5870d8ad719b9aa1c1
tga8 palette.tga 84cec8ee82bc0edf6e19d729
tga8 photo (2).tga 1752fc252c437da3fd23b538
tga8 photo.tga 1af395c21c6cc466b2573e78
tga4 palette.tga 18153d38c9eac3aa2a6a9a2c
tga4 photo (2).tga 23e72d346a9d3ad93517d734
tga4 photo.tga 53f96b2d2f163f8032ec5a1e
bmp24 palette.bmp 564052a83314cee8188d9359
bmp24 photo (2).bmp 4140228506910a100b4afa93
bmp24 photo.bmp ab216b9b7d361f16979f7e45
bmp8 palette.bmp 2ada474fb87ee6b8cd770b78
bmp8 photo (2).bmp c53ab70ce076524dc7b92d28
bmp8 photo.bmp 8b809d8ffe40d533f8b25a12
bmp4 palette.bmp e60f11c5ddc6a407076cf8a3
bmp4 photo (2).bmp bf411db895e0f5f61bd0c5c3
bmp4 photo.bmp ee092ce36d54f9407b6eb48f
pcx24 palette.pcx f045c3b2098966993c7b732f
pcx24 photo (2).pcx 8ea865edc15c42e7e5ad2483
pcx24 photo.pcx 8fc5f9914a152f0efd64588d
pcx8 palette.pcx 5d09ea28659a3875a399f1bb
pcx8 photo (2).pcx ba6af6f817fff740cca08959
pcx8 photo.pcx b74070420857be1024d42795
pcx4 palette.pcx 7f7c33ecb9f00e8ab2586c92
pcx4 photo (2).pcx 5bc19bb9b748a8ff91e2385a
pcx4 photo.pcx 27b80013305efd431d5ec9b9
gif palette.gif 08773f19fba2ac0002924e33
gif photo (2).gif 91d5e146128b8da669e58979
gif photo.gif c5cf2f6aae1b32833ccceb2a
png24 palette.png aaa04fd8b2c3d9be8c1163b9
png24 photo (2).png c2978aeda7e015786a89ec2a
png24 photo.png f35f52c86913d10af144f72d
png8 palette.png d2d61882e99f8a72d0df75c0
png8 photo (2).png e4381422e4e1921aeb094d9e
png8 photo.png a06179a42ec7dd8c7d64461e
png4 palette.png a358ff3f2ea71ddd993ae9b0
png4 photo (2).png a7da9f374954ab54b8affb76
png4 photo.png f442bcb5f64464c761d98ea0
webp palette.webp e3fd59693909d342cdb4a267
webp photo (2).webp 1979810e6dde836720d56a8a
webp photo.webp 093fe43675757cdb31f64ec0
webp-lossless palette.webp 05b5f3366c8c9a0e20e1b319
webp-lossless photo (2).webp e835bb49cd15e1e83b4f94cb
webp-lossless photo.webp 912b333545b26da5e8138616
percent palette.jpg 774470164f5477a829d6fc87
percent photo (2).jpg 263da4bbc3304d03dda1bb1b
percent photo.jpg a5d9ab278c4872aaf038c1ab
centre palette.jpg 80c1f284e35406a9f1c27fa8
centre photo (2).jpg 121cedffb4bc1052c7ee0774
centre photo.jpg 2bae3387c323046b389ec686
template palette.jpg 69bc83b2b887ddba9b5ce2c9
template photo (2).jpg feddca95a12bbc42e0672978
template photo.jpg 4674ec9d178cd5a84acea3b6
mix palette.jpg 1ba5cf9fa4d8e382b40c87eb
mix photo (2).jpg 93976d6d0721f13e97ec10c8
mix photo.jpg cbd82fc8c4f1ada06d74397a
anchored palette.jpg 42e9c81d8d66262aa39d42d9
anchored photo (2).jpg 0adfc6f160dfd0e01950041a
anchored photo.jpg c8392c7c72171b004f383511
tiled palette.jpg 88873f9b8d19861854eb326b
tiled photo (2).jpg 17f1c9ecbdb0aa28e9340137
tiled photo.jpg bc1e87ba8dffe85e409b044e
text-effects palette.jpg fd1b3d3f60e7c197503c9098
text-effects photo (2).jpg a009be53fcdee51598be78d4
text-effects photo.jpg 7c97ed218e27ac958b324ea4
tokens palette.jpg f4272067c6175e95bb03bab0
tokens photo (2).jpg b46f12685224b0883bc846b9
tokens photo.jpg 8509b93182df4222edf188be
lossless palette.jpg 08d43c5b2bb103a6798663bf
lossless photo (2).jpg 057554de3b4bcc973146f857
lossless photo.jpg a34aa96aa306852a2c0088e8
strip palette.jpg 08d43c5b2bb103a6798663bf
strip photo (2).jpg 057554de3b4bcc973146f857
strip photo.jpg 26d23f6b7fed904f2073a1f0
resized palette.jpg 596a6fafa49043197c6cbb24
resized photo (2).jpg 900470b573d5649a6e6747a9
resized photo.jpg 7c2164976763de05535c3128
resized-png palette.png b09882df00aa5f0ee1d8ee5b
resized-png photo (2).png 6f00157934ef61fb4517174b
resized-png photo.png f3110f51d9a233a48b108e9a
)";

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
    const QStringList expected = QString::fromLatin1(kGolden).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(got.size(), expected.size());
    for (qsizetype i = 0; i < std::min(got.size(), expected.size()); ++i)
        EXPECT_EQ(got[i], expected[i]);
}

}  // namespace
}  // namespace velda
