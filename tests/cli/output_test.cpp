// velda-batch writing for publication: resized, in PNG and WebP, named by
// templates, in kept folder trees, from presets, planned by a dry run;
// the results read back by PIL, ImageMagick, webpinfo and exiv2.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include "support/test_support.h"

namespace velda {
namespace {

// Pieces of a real photo by PIL, a 1-pixel checkerboard, a picture with
// alpha and a red watermark; one photo tagged by the exiv2 tool.
const char kSources[] = R"(
import sys
from PIL import Image
photo, out = sys.argv[1], sys.argv[2]
im = Image.open(photo).convert('RGB')
im.crop((0, 0, 1200, 800)).save(out + '/in/wide.jpg', quality=92)
im.crop((0, 0, 300, 500)).save(out + '/in/small.jpg', quality=92)
im.crop((0, 0, 1200, 800)).resize((600, 400), Image.LANCZOS).save(out + '/same600.png')
board = Image.new('L', (400, 400))
board.putdata([255 * ((x + y) % 2) for y in range(400) for x in range(400)])
board.convert('RGB').save(out + '/in/board.png')
board.convert('RGB').save(out + '/in/board.jpg', quality=100, subsampling=0)
Image.new('RGBA', (200, 100), (0, 128, 255, 100)).save(out + '/in/glass.png')
Image.new('RGB', (100, 40), (255, 0, 0)).save(out + '/red.png')
)";

// Box of the red pixels of each file: x0 y0 x1 y1 (exclusive).
const char kRedBox[] = R"(
import sys
from PIL import Image, ImageChops
for f in sys.argv[1:]:
    r, g, b = Image.open(f).convert('RGB').split()
    m = ImageChops.multiply(ImageChops.multiply(r.point(lambda v: 255 if v > 200 else 0),
        g.point(lambda v: 255 if v < 60 else 0)), b.point(lambda v: 255 if v < 60 else 0))
    print(*(m.getbbox() or (0, 0, 0, 0)))
)";

class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        in_ = dir_.filePath(QStringLiteral("in"));
        out_ = dir_.filePath(QStringLiteral("out"));
        ini_ = dir_.filePath(QStringLiteral("velda.ini"));
        QDir().mkpath(in_);
        test::Python(
            QString::fromLatin1(kSources),
            {QStringLiteral("/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"), dir_.path()});
        test::Run(QStringLiteral("exiv2"),
                  {QStringLiteral("-M"), QStringLiteral("set Exif.Image.Artist Ann Author"),
                   QStringLiteral("-M"),
                   QStringLiteral("set Exif.Photo.DateTimeOriginal 2021:06:15 10:00:00"),
                   QStringLiteral("-M"), QStringLiteral("set Xmp.dc.creator Ann Creator"),
                   QStringLiteral("mo"), in_ + QStringLiteral("/wide.jpg")});
        test::WriteAll(ini_, "[MainVeldaDetails]\nMixValue=255\n");
    }
    // Runs velda-batch; returns standard output, expecting exit status code.
    QString Batch(QStringList args, int code = 0) {
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/velda-batch"),
                QStringList{QStringLiteral("--settings"), ini_, QStringLiteral("-q")} + args);
        p.waitForFinished(120000);
        EXPECT_EQ(p.exitCode(), code)
            << args.join(u' ').toStdString() << ": " << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    QString Size(const QString& file) { return test::Identify(file, QStringLiteral("%wx%h")); }
    // Every file under a folder, relative to it, sorted.
    static QStringList Files(const QString& root) {
        QStringList out;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            out.append(QDir(root).relativeFilePath(it.next()));
        out.sort();
        return out;
    }

    QTemporaryDir dir_;
    QString in_, out_, ini_;
};

TEST_F(OutputTest, ResizeNeverEnlargesAndMarksFitTheFinalPicture) {
    const struct {
        const char* size;
        const char* wide;   // of 1200 x 800
        const char* small;  // of 300 x 500, never enlarged
    } cases[] = {{"long:600", "600x400", "300x500"},
                 {"short:200", "300x200", "200x333"},
                 {"width:900", "900x600", "300x500"},
                 {"height:1000", "1200x800", "300x500"},
                 {"fit:500x500", "500x333", "300x500"}};
    for (const auto& c : cases) {
        QDir(out_).removeRecursively();
        Batch({QStringLiteral("--resize"), QString::fromLatin1(c.size), in_, out_,
               QStringLiteral("wide.jpg"), QStringLiteral("small.jpg")});
        EXPECT_EQ(Size(out_ + QStringLiteral("/wide.jpg")), QString::fromLatin1(c.wide)) << c.size;
        EXPECT_EQ(Size(out_ + QStringLiteral("/small.jpg")), QString::fromLatin1(c.small))
            << c.size;
    }
    // Area averaging: a 1-pixel checkerboard shrunk is an even grey, not
    // a pattern of picked pixels; a JPEG one too, decoded at a fraction of
    // its size first.
    for (const char* board : {"board.png", "board.jpg"}) {
        QDir(out_).removeRecursively();
        Batch({QStringLiteral("--resize=long:100"), QStringLiteral("--format=png"), in_, out_,
               QLatin1String(board)});
        const QStringList stats =
            test::Identify(out_ + QStringLiteral("/board.png"),
                           QStringLiteral("%wx%h %[mean] %[standard-deviation]"))
                .split(u' ');
        EXPECT_EQ(stats[0], QStringLiteral("100x100")) << board;
        EXPECT_NEAR(stats[1].toDouble() / 65535, 0.5, 0.02) << board;
        EXPECT_LT(stats[2].toDouble() / 65535, 0.02) << board;
    }

    // A mark sized in percent lands on the resized photo exactly as on a
    // photo that was that size to begin with.
    QDir(out_).removeRecursively();
    QDir().mkpath(dir_.filePath(QStringLiteral("in600")));
    QFile::rename(dir_.filePath(QStringLiteral("same600.png")),
                  dir_.filePath(QStringLiteral("in600/wide.png")));
    const QStringList marks = {
        QStringLiteral("--set"),
        QStringLiteral("WaterMarkFile=") + dir_.filePath(QStringLiteral("red.png")),
        QStringLiteral("--set=WatermarkSize=10"),
        QStringLiteral("--set=Anchor=BR"),
        QStringLiteral("--set=MarginX=2%"),
        QStringLiteral("--format=png")};
    Batch(marks +
          QStringList{QStringLiteral("--resize=width:600"), in_, out_, QStringLiteral("wide.jpg")});
    Batch(marks + QStringList{dir_.filePath(QStringLiteral("in600")),
                              dir_.filePath(QStringLiteral("out600"))});
    const QString boxes = test::Python(
        QString::fromLatin1(kRedBox),
        {out_ + QStringLiteral("/wide.png"), dir_.filePath(QStringLiteral("out600/wide.png"))});
    EXPECT_EQ(boxes, QStringLiteral("528 376 588 400\n528 376 588 400\n"));

    // A JPEG's blocks cannot be kept at a new size, and the report says so.
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/velda-batch"),
            {QStringLiteral("--settings"), ini_, QStringLiteral("--lossless"),
             QStringLiteral("--resize=long:300"), in_, out_, QStringLiteral("wide.jpg")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_TRUE(p.readAllStandardError().contains("wide.jpg: wholly re-encoded (resized)"));
    EXPECT_EQ(Size(out_ + QStringLiteral("/wide.jpg")), QStringLiteral("300x200"));
}

TEST_F(OutputTest, PngAndWebpReadBackWithTheirKindAndMetadata) {
    Batch({QStringLiteral("--format=png"), in_, out_, QStringLiteral("wide.jpg"),
           QStringLiteral("glass.png")});
    Batch({QStringLiteral("--format=png"), QStringLiteral("--depth=8"), in_,
           out_ + QStringLiteral("8"), QStringLiteral("wide.jpg")});
    Batch({QStringLiteral("--format=png"), QStringLiteral("--depth=4"), in_,
           out_ + QStringLiteral("4"), QStringLiteral("wide.jpg")});
    Batch({QStringLiteral("--format=webp"), QStringLiteral("--quality=80"), in_, out_,
           QStringLiteral("wide.jpg")});
    Batch({QStringLiteral("--format=webp"), QStringLiteral("--webp-lossless"), in_,
           out_ + QStringLiteral("L"), QStringLiteral("glass.png")});
    const QString format = QStringLiteral(
        "%m %wx%h %[channels] %[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]");
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("/wide.png"), format),
              QStringLiteral("PNG 1200x800 srgb 2 8"));
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("/glass.png"), format),
              QStringLiteral("PNG 200x100 srgba 6 8"));
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("8/wide.png"), format),
              QStringLiteral("PNG 1200x800 srgb 3 8"));
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("4/wide.png"), format),
              QStringLiteral("PNG 1200x800 srgb 3 4"));
    const QString lossy =
        test::Run(QStringLiteral("webpinfo"), {out_ + QStringLiteral("/wide.webp")});
    EXPECT_TRUE(lossy.contains(QStringLiteral("Format: Lossy"))) << lossy.toStdString();
    EXPECT_TRUE(lossy.contains(QStringLiteral("Chunk EXIF")) &&
                lossy.contains(QStringLiteral("Chunk XMP")));
    EXPECT_TRUE(lossy.contains(QStringLiteral("No error detected")));
    const QString lossless =
        test::Run(QStringLiteral("webpinfo"), {out_ + QStringLiteral("L/glass.webp")});
    EXPECT_TRUE(lossless.contains(QStringLiteral("Format: Lossless"))) << lossless.toStdString();
    EXPECT_TRUE(lossless.contains(QStringLiteral("Alpha: 1")));
    // The photo's own metadata, made true for the new file.
    for (const QString& file :
         {out_ + QStringLiteral("/wide.png"), out_ + QStringLiteral("/wide.webp")}) {
        const QString tags = test::Run(QStringLiteral("exiv2"), {QStringLiteral("-pa"), file});
        EXPECT_TRUE(tags.contains(QStringLiteral("Ann Author"))) << file.toStdString();
        EXPECT_TRUE(tags.contains(QStringLiteral("Ann Creator"))) << file.toStdString();
    }
    // Decoded by libwebp's own tool, the lossless glass is the source.
    test::Run(QStringLiteral("dwebp"), {out_ + QStringLiteral("L/glass.webp"), QStringLiteral("-o"),
                                        dir_.filePath(QStringLiteral("glass-back.png"))});
    EXPECT_EQ(
        test::Identify(dir_.filePath(QStringLiteral("glass-back.png")),
                       QStringLiteral("%[pixel:p{10,10}]")),
        test::Identify(in_ + QStringLiteral("/glass.png"), QStringLiteral("%[pixel:p{10,10}]")));
}

TEST_F(OutputTest, NamesTreesAndTheDryRunAgreeWithWhatIsWritten) {
    // Every token, and three results that want one name.
    Batch({QStringLiteral("--name={name}-{counter:3}-{date}-{width}x{height}"),
           QStringLiteral("--resize=long:600"), in_, out_, QStringLiteral("wide.jpg"),
           QStringLiteral("small.jpg")});
    EXPECT_EQ(Files(out_), (QStringList{QStringLiteral("small-002-") +
                                            QFileInfo(in_ + QStringLiteral("/small.jpg"))
                                                .lastModified()
                                                .date()
                                                .toString(Qt::ISODate) +
                                            QStringLiteral("-300x500.jpg"),
                                        QStringLiteral("wide-001-2021-06-15-600x400.jpg")}));
    QDir(out_).removeRecursively();
    Batch({QStringLiteral("--name=same"), in_, out_, QStringLiteral("wide.jpg"),
           QStringLiteral("small.jpg"), QStringLiteral("board.png")});
    EXPECT_EQ(Files(out_),
              (QStringList{QStringLiteral("same (2).jpg"), QStringLiteral("same (3).jpg"),
                           QStringLiteral("same.jpg")}));

    // A three-level tree, mirrored; the dry run's plan is what the real
    // run writes, with the existing-file policy at work.
    const QString tree = dir_.filePath(QStringLiteral("tree"));
    for (const char* sub : {"", "/a", "/a/b", "/c"}) {
        QDir().mkpath(tree + QString::fromLatin1(sub));
        QFile::copy(in_ + QStringLiteral("/small.jpg"),
                    tree + QString::fromLatin1(sub) + QStringLiteral("/p.jpg"));
    }
    const QString mirror = dir_.filePath(QStringLiteral("mirror"));
    QDir().mkpath(mirror + QStringLiteral("/a"));
    test::WriteAll(mirror + QStringLiteral("/a/p.png"), "not ours");
    const QStringList run = {QStringLiteral("--recursive"),
                             QStringLiteral("--keep-tree"),
                             QStringLiteral("--format=png"),
                             QStringLiteral("--existing=rename"),
                             tree,
                             mirror};
    const QString plan = Batch(run + QStringList{QStringLiteral("--dry-run")});
    EXPECT_EQ(Files(mirror), QStringList{QStringLiteral("a/p.png")});  // nothing written
    Batch(run);
    const QStringList written = {QStringLiteral("a/b/p.png"), QStringLiteral("a/p (2).png"),
                                 QStringLiteral("a/p.png"), QStringLiteral("c/p.png"),
                                 QStringLiteral("p.png")};
    EXPECT_EQ(Files(mirror), written);
    QStringList planned;
    for (const QString& line : plan.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.contains(QStringLiteral(" -> ")))
            planned.append(QDir(mirror).relativeFilePath(line.section(QStringLiteral(" -> "), 1)));
    }
    planned.append(QStringLiteral("a/p.png"));  // the file that was there
    planned.sort();
    EXPECT_EQ(planned, written);
    EXPECT_TRUE(plan.endsWith(QStringLiteral("4 files would be written.\n"))) << plan.toStdString();

    // Two runs side by side on the two halves of the tree give what one
    // run gives.
    const QString halves = dir_.filePath(QStringLiteral("halves"));
    const QString whole = dir_.filePath(QStringLiteral("whole"));
    QDir().mkpath(halves);
    QDir().mkpath(whole);
    QProcess a, b;
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/velda-batch");
    const QStringList common = {QStringLiteral("--settings"), ini_, QStringLiteral("-q"),
                                QStringLiteral("--recursive"), QStringLiteral("--keep-tree")};
    a.start(program,
            common + QStringList{tree + QStringLiteral("/a"), halves + QStringLiteral("/a")});
    b.start(program,
            common + QStringList{tree + QStringLiteral("/c"), halves + QStringLiteral("/c")});
    ASSERT_TRUE(a.waitForFinished(120000) && b.waitForFinished(120000));
    EXPECT_EQ(a.exitCode() + b.exitCode(), 0);
    Batch({QStringLiteral("--recursive"), QStringLiteral("--keep-tree"),
           tree + QStringLiteral("/a"), whole + QStringLiteral("/a")});
    Batch({QStringLiteral("--recursive"), QStringLiteral("--keep-tree"),
           tree + QStringLiteral("/c"), whole + QStringLiteral("/c")});
    EXPECT_EQ(Files(halves), Files(whole));
    for (const QString& f : Files(whole))
        EXPECT_EQ(test::ReadAll(halves + u'/' + f), test::ReadAll(whole + u'/' + f))
            << f.toStdString();
}

TEST_F(OutputTest, PresetsRunAndLaterSettingsWin) {
    test::WriteAll(ini_,
                   "[MainVeldaDetails]\nMixValue=255\n\n[Preset web]\nResize=long:300\n"
                   "NameTemplate={name}-web\nJPEGValue=40\nNoSuchKey=1\n\n[Preset print]\n"
                   "KeepTree=True\n");
    EXPECT_EQ(Batch({QStringLiteral("--list-presets")}), QStringLiteral("web\nprint\n"));
    Batch({QStringLiteral("--preset=web"), in_, out_, QStringLiteral("wide.jpg")});
    EXPECT_EQ(Size(out_ + QStringLiteral("/wide-web.jpg")), QStringLiteral("300x200"));
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("/wide-web.jpg"), QStringLiteral("%Q")),
              QStringLiteral("40"));
    Batch({QStringLiteral("--preset=web"), QStringLiteral("--set=Resize=width:150"), in_, out_,
           QStringLiteral("small.jpg")});
    EXPECT_EQ(Size(out_ + QStringLiteral("/small-web.jpg")), QStringLiteral("150x250"));
    Batch({QStringLiteral("--preset=none"), in_, out_}, 2);
}

}  // namespace
}  // namespace velda
