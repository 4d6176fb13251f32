// The invisible mark through velda-batch: web results of real photos,
// attacked by PIL as the web would, found again by --verify; and where a
// mark cannot be carried, refused.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

// Two 2048-pixel web pictures of real photos, landscape and portrait.
const char kSources[] = R"(
import sys
from PIL import Image
out = sys.argv[1]
for name, photo in (('bridge', '/usr/share/backgrounds/Bridge_by_Sander_Klootwijk.jpg'),
                    ('wine', '/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg')):
    im = Image.open(photo).convert('RGB')
    s = 2048 / max(im.size)
    im.resize((round(im.width * s), round(im.height * s)), Image.LANCZOS).save(
        out + '/in/' + name + '.jpg', quality=95)
)";

// What the web does to a picture, each into its own file.
const char kAttacks[] = R"(
import sys, math
from PIL import Image
src, out = sys.argv[1], sys.argv[2]
stem = src.rsplit('/', 1)[1].rsplit('.', 1)[0]
im = Image.open(src).convert('RGB')
w, h = im.size
im.save(out + '/' + stem + '-q50.jpg', quality=50)
im.resize((w // 4, h // 4), Image.LANCZOS).save(out + '/' + stem + '-quarter.png')
cw, ch = w // 2, h // 2
im.crop((301, 207, 301 + cw, 207 + ch)).save(out + '/' + stem + '-crop.png')
a = math.radians(3)
iw = int((w * math.cos(a) - h * math.sin(a)) / math.cos(2 * a))
ih = int((h * math.cos(a) - w * math.sin(a)) / math.cos(2 * a))
turned = im.rotate(3, Image.BICUBIC)
turned.crop(((w - iw) // 2, (h - ih) // 2, (w + iw) // 2, (h + ih) // 2)).save(
    out + '/' + stem + '-turned.png')
)";

class InvisibleTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QDir().mkpath(Path(u"in"_s));
        QDir().mkpath(Path(u"attacked"_s));
        test::Python(QString::fromLatin1(kSources), {dir_.path()});
        test::WriteAll(Path(u"velda.ini"_s), "[MainVeldaDetails]\n");
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    test::BatchResult Batch(const QStringList& args) {
        return test::RunVeldaBatch(QStringList{u"--settings"_s, Path(u"velda.ini"_s), u"-q"_s} +
                                   args);
    }

    QTemporaryDir dir_;
};

TEST_F(InvisibleTest, SurvivesTheWebAndIsFoundByVerify) {
    const test::BatchResult marked = Batch(
        {u"--invisible"_s, u"Ann 2026"_s, u"--quality"_s, u"85"_s, Path(u"in"_s), Path(u"out"_s)});
    ASSERT_EQ(marked.code, 0) << marked.err.toStdString();
    // A run with only an invisible mark does more than convert.
    EXPECT_FALSE(marked.err.contains(u"converting only"_s)) << marked.err.toStdString();
    QStringList files;
    for (const QString& name : {u"bridge"_s, u"wine"_s}) {
        const QString result = Path(u"out/"_s + name + u".jpg"_s);
        test::Python(QString::fromLatin1(kAttacks), {result, Path(u"attacked"_s)});
        files.append(result);
        for (const QString& attack :
             {u"-q50.jpg"_s, u"-quarter.png"_s, u"-crop.png"_s, u"-turned.png"_s})
            files.append(Path(u"attacked/"_s + name + attack));
    }
    const QString unmarked = Path(u"in/bridge.jpg"_s), missing = Path(u"gone.jpg"_s);
    const test::BatchResult verify =
        test::RunVeldaBatch(QStringList{u"--verify"_s} + files + QStringList{unmarked, missing});
    // Every file read gets its line, in order; the one that is not there
    // is said on standard error and fails the run.
    QStringList expected;
    for (const QString& f : files)
        expected.append(f + u": mark Ann 2026"_s);
    expected.append(unmarked + u": no mark"_s);
    EXPECT_EQ(verify.out.split(u'\n', Qt::SkipEmptyParts), expected);
    EXPECT_TRUE(verify.err.contains(missing)) << verify.err.toStdString();
    EXPECT_EQ(verify.code, 1);
    EXPECT_EQ(test::RunVeldaBatch({u"--verify"_s, unmarked}).code, 0);

    // Unseen: within 42 dB of the same result without the mark.
    ASSERT_EQ(
        Batch({u"--format"_s, u"png"_s, Path(u"in"_s), Path(u"plain"_s), u"bridge.jpg"_s}).code, 0);
    ASSERT_EQ(Batch({u"--format"_s, u"png"_s, u"--invisible"_s, u"1"_s, Path(u"in"_s),
                     Path(u"png"_s), u"bridge.jpg"_s})
                  .code,
              0);
    EXPECT_GE(test::Psnr(QImage(Path(u"plain/bridge.png"_s)), QImage(Path(u"png/bridge.png"_s))),
              42.0);
}

TEST_F(InvisibleTest, KeptInSettingsAndRefusedWhereItCannotBeCarried) {
    // From the settings and a preset, the JPEG's blocks all re-encoded.
    test::WriteAll(Path(u"velda.ini"_s),
                   "[MainVeldaDetails]\n[Invisible]\nPayload=0x00C0FFEE\n"
                   "[Preset web]\nPayload=12345678901234567890\nStrength=7\n");
    const test::BatchResult kept =
        Batch({u"--lossless"_s, Path(u"in"_s), Path(u"file"_s), u"wine.jpg"_s});
    ASSERT_EQ(kept.code, 0) << kept.err.toStdString();
    EXPECT_TRUE(kept.out.contains(u"invisible mark"_s)) << kept.out.toStdString();
    ASSERT_EQ(
        Batch({u"--preset"_s, u"web"_s, Path(u"in"_s), Path(u"preset"_s), u"wine.jpg"_s}).code, 0);
    EXPECT_EQ(
        test::RunVeldaBatch({u"--verify"_s, Path(u"file/wine.jpg"_s), Path(u"preset/wine.jpg"_s)})
            .out,
        Path(u"file/wine.jpg"_s) + u": mark 0x00C0FFEE\n"_s + Path(u"preset/wine.jpg"_s) +
            u": mark 12345678901234567890\n"_s);
    // A palette cannot carry it, nor a payload be more than 64 bits; the
    // run is refused before any folder is made.
    for (const QStringList& bad : {QStringList{u"--format"_s, u"gif"_s},
                                   QStringList{u"--format"_s, u"bmp"_s, u"--depth"_s, u"8"_s},
                                   QStringList{u"--set"_s, u"Output2.Format=gif"_s},
                                   QStringList{u"--invisible"_s, u"too long!"_s},
                                   QStringList{u"--set"_s, u"Strength=11"_s}}) {
        const test::BatchResult r = Batch(bad + QStringList{Path(u"in"_s), Path(u"refused"_s)});
        EXPECT_EQ(r.code, 2) << bad.join(u' ').toStdString();
        EXPECT_FALSE(QFile::exists(Path(u"refused"_s)));
        if (bad.contains(u"gif"_s)) {
            EXPECT_TRUE(r.err.contains(u"palette"_s));
        }
    }
}

}  // namespace
}  // namespace velda
