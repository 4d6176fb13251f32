// A stack of further marks drawn by velda-batch on greyed real photos, in
// saturated colours, and found again by PIL: where each lands, how its
// lines align, which way it turns, how it blends.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

// Grey pieces of a real photo (no saturated colour anywhere), flat
// pictures, coloured marks, and an SVG logo with its raster twin.
const char kSources[] = R"(
import sys
from PIL import Image
photo, out = sys.argv[1], sys.argv[2]
im = Image.open(photo).convert('L').convert('RGB')
im.crop((0, 0, 1200, 800)).save(out + '/in/landscape.png')
im.crop((0, 0, 800, 1200)).save(out + '/in/portrait.png')
Image.new('RGB', (2000, 1000), (255, 255, 255)).save(out + '/in/white.png')
im.crop((0, 0, 1200, 800)).save(out + '/in/photo.jpg', quality=90)
Image.new('RGB', (100, 40), (255, 0, 0)).save(out + '/red.png')
Image.new('RGB', (100, 40), (0, 255, 0)).save(out + '/green.png')
Image.new('RGB', (200, 40), (255, 0, 0)).save(out + '/bar.png')
tiny = Image.new('RGB', (20, 10), (255, 255, 255))
tiny.paste((255, 0, 0), (0, 0, 10, 10))
tiny.save(out + '/tiny.png')
grad = Image.new('RGB', (256, 64))
grad.putdata([(x, 255 - x, (x * 7) % 256) for y in range(64) for x in range(256)])
grad.save(out + '/colours.png')
open(out + '/logo.svg', 'w').write(
    '<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10" viewBox="0 0 20 10">'
    '<rect width="20" height="10" fill="#FFFFFF"/><rect width="10" height="10" fill="#FF0000"/>'
    '</svg>')
)";

// Per file and saturated colour (red green blue magenta): the box of its
// pixels (x0 y0 x1 y1, exclusive) and their count, then the boxes of its
// pixels in the upper and the lower half of that box.
const char kMeasure[] = R"(
import sys
from PIL import Image, ImageChops
hi = lambda c: c.point(lambda v: 255 if v > 200 else 0)
lo = lambda c: c.point(lambda v: 255 if v < 60 else 0)
for f in sys.argv[1:]:
    r, g, b = Image.open(f).convert('RGB').split()
    out = []
    for want in ((hi, lo, lo), (lo, hi, lo), (lo, lo, hi), (hi, lo, hi)):
        m = ImageChops.multiply(ImageChops.multiply(want[0](r), want[1](g)), want[2](b))
        box = m.getbbox() or (0, 0, 0, 0)
        out += list(box) + [m.histogram()[255]]
        mid = (box[1] + box[3]) // 2
        for part in ((box[0], box[1], box[2], mid), (box[0], mid, box[2], box[3])):
            sub = m.crop(part).getbbox() if part[2] > part[0] and part[3] > part[1] else None
            out += [part[0] + sub[0], part[1] + sub[1], part[0] + sub[2], part[1] + sub[3]] \
                if sub else [0, 0, 0, 0]
    print(*out)
)";

enum Colour { Red, Green, Blue, Magenta };
struct Found {
    QRect box, upper, lower;
    int count = 0;
};

class StackTest : public test::BatchFolders {
  protected:
    static void SetUpTestSuite() {
        sources_ = new QTemporaryDir;
        QDir().mkpath(sources_->filePath(u"in"_s));
        test::Python(QString::fromLatin1(kSources),
                     {u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s, sources_->path()});
    }
    static void TearDownTestSuite() { delete sources_; }
    static QString Source(const QString& name) { return sources_->filePath(name); }

    // Runs velda-batch over one source of the suite with this velda.ini
    // body and further arguments; returns the result's path.
    QString Run(const QString& ini, const QString& source, QStringList args = {},
                const QString& format = u"png"_s) {
        test::WriteAll(ini_, ("[MainVeldaDetails]\nText=\n" + ini).toUtf8());
        const QString out = dir_.filePath(u"out%1"_s.arg(++runs_));
        const test::BatchResult r =
            test::RunVeldaBatch(QStringList{u"--settings"_s, ini_, u"-q"_s, u"--format"_s, format} +
                                args + QStringList{Source(u"in"_s), out, source});
        EXPECT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
        lastOut_ = r.out;
        return out + u'/' + source.section(u'.', 0, 0) + u'.' + format;
    }
    static std::vector<std::array<Found, 4>> Measure(const QStringList& files) {
        std::vector<std::array<Found, 4>> out;
        for (const QString& line :
             test::Python(QString::fromLatin1(kMeasure), files).split(u'\n', Qt::SkipEmptyParts)) {
            QList<int> v;
            for (const QString& n : line.split(u' '))
                v.append(n.toInt());
            std::array<Found, 4> f;
            auto rect = [&v](int i) {
                return QRect(QPoint(v[i], v[i + 1]), QPoint(v[i + 2], v[i + 3]));
            };
            for (int c = 0; c < 4; ++c) {
                const int at = c * 13;
                f[c] = {rect(at), rect(at + 5), rect(at + 9), v[at + 4]};
            }
            out.push_back(f);
        }
        return out;
    }
    QString RedPng() const { return Source(u"red.png"_s); }

    static QTemporaryDir* sources_;
    int runs_ = 0;
    QString lastOut_;
};
QTemporaryDir* StackTest::sources_ = nullptr;

// Boxes here are x0 y0 x1 y1 with x1, y1 exclusive, as PIL gives them.
#define EXPECT_NEAR_BOX(rect, x0, y0, x1, y1, tol) \
    do {                                           \
        EXPECT_NEAR((rect).left(), x0, tol);       \
        EXPECT_NEAR((rect).top(), y0, tol);        \
        EXPECT_NEAR((rect).right(), x1, tol);      \
        EXPECT_NEAR((rect).bottom(), y1, tol);     \
    } while (0)

TEST_F(StackTest, TwoPicturesAndTwoTextsLandWhereAskedInOneRun) {
    const QString out =
        Run(u"[Mark2]\nFile=%1\nSize=10\nAnchor=TL\nMarginX=30\nMarginY=20\n"
            "[Mark3]\nFile=%2\nAnchor=BR\nMarginX=10\nMarginY=10\n"
            "[Mark4]\nText=HHHH\nFont=DejaVu Sans\nColour=#0000FF\nSize=6\n"
            "Anchor=TR\nMarginX=40\nMarginY=30\n"
            "[Mark5]\nText=HHHH\nFont=DejaVu Sans\nColour=#FF00FF\nSize=6\n"
            "Anchor=B\nMarginY=50\n"_s.arg(RedPng(), Source(u"green.png"_s)),
            u"landscape.png"_s);
    const auto f = Measure({out})[0];
    // 10 % of 1200: 120 x 48; the green one at its own 100 x 40.
    EXPECT_NEAR_BOX(f[Red].box, 30, 20, 150, 68, 1);
    EXPECT_NEAR_BOX(f[Green].box, 1090, 750, 1190, 790, 1);
    // Text 6 % of the short edge, 48 px a line: capitals about 35 px tall,
    // ending at the margin, below its top.
    for (const Colour c : {Blue, Magenta}) {
        EXPECT_NEAR(f[c].box.height(), 35, 5);
        EXPECT_GT(f[c].count, 600);
    }
    EXPECT_NEAR(f[Blue].box.right(), 1160, 6);
    EXPECT_GE(f[Blue].box.top(), 30);
    EXPECT_LT(f[Blue].box.top(), 30 + 48 / 3);
    EXPECT_NEAR((f[Magenta].box.left() + f[Magenta].box.right()) / 2.0, 600, 3);
    EXPECT_LE(f[Magenta].box.bottom(), 750);
    EXPECT_GT(f[Magenta].box.bottom(), 750 - 48 / 2);
}

TEST_F(StackTest, LinesAlignAndMarksTurnCounterClockwise) {
    const QString text =
        u"[Mark2]\nText=HHHHHHHH\\nHH\nFont=DejaVu Sans\nColour=#0000FF\n"
        "Size=6\nAnchor=C\n"_s;
    QStringList files;
    for (const char* align : {"Left", "Centre", "Right"})
        files << Run(text, u"landscape.png"_s, {u"--set"_s, u"Mark2.Align="_s + align});
    files << Run(u"[Mark2]\nFile=%1\nRotate=30\n"_s.arg(Source(u"bar.png"_s)), u"landscape.png"_s)
          << Run(u"[Mark2]\nFile=%1\nRotate=-90\n"_s.arg(Source(u"bar.png"_s)), u"landscape.png"_s);
    const auto f = Measure(files);
    for (int i = 0; i < 3; ++i) {
        const Found& b = f[i][Blue];
        // Two lines of 48 px: the short one four times narrower.
        EXPECT_NEAR(b.box.height(), 48 + 35, 6) << i;
        EXPECT_NEAR(b.upper.width(), 4 * b.lower.width(), b.lower.width() / 2) << i;
    }
    EXPECT_NEAR(f[0][Blue].lower.left(), f[0][Blue].upper.left(), 3);
    EXPECT_NEAR(f[1][Blue].lower.center().x(), f[1][Blue].upper.center().x(), 3);
    EXPECT_NEAR(f[2][Blue].lower.right(), f[2][Blue].upper.right(), 3);
    // 200 x 40 turned by 30 degrees: 193 x 135, centred, its right end up.
    const Found& turned = f[3][Red];
    EXPECT_NEAR(turned.box.width(), 200 * 0.866 + 40 * 0.5, 3);
    EXPECT_NEAR(turned.box.height(), 200 * 0.5 + 40 * 0.866, 3);
    EXPECT_NEAR(turned.box.center().x(), 600, 2);
    EXPECT_GT(turned.upper.center().x(), turned.box.center().x() + 15);
    // By -90: standing, 40 x 200.
    EXPECT_NEAR_BOX(f[4][Red].box, 580, 300, 620, 500, 2);
}

// PIL's per-pixel comparison of a result with its source: the largest
// brightening and darkening of any channel, and the mean change.
const char kCompare[] = R"(
import sys
from PIL import Image, ImageChops, ImageStat
a = Image.open(sys.argv[1]).convert('RGB')
for f in sys.argv[2:]:
    b = Image.open(f).convert('RGB')
    up = max(hi for lo, hi in ImageChops.subtract(b, a).getextrema())
    down = max(hi for lo, hi in ImageChops.subtract(a, b).getextrema())
    print(up, down, sum(ImageStat.Stat(ImageChops.difference(a, b)).mean))
)";

TEST_F(StackTest, OpacityHalvesAndBlendModesKeepTheirDirection) {
    const QString colours = u"[Mark2]\nFile=%1\nSize=80\n"_s.arg(Source(u"colours.png"_s));
    QStringList files;
    for (const char* blend : {"Multiply", "Screen", "Overlay", "SoftLight"})
        files << Run(colours, u"landscape.png"_s, {u"--set"_s, u"Mark2.Blend="_s + blend});
    const QStringList lines = test::Python(QString::fromLatin1(kCompare),
                                           QStringList{Source(u"in/landscape.png"_s)} + files)
                                  .split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    auto field = [&lines](int row, int i) { return lines[row].split(u' ')[i].toDouble(); };
    EXPECT_LE(field(0, 0), 1) << "multiply brightened";
    EXPECT_LE(field(1, 1), 1) << "screen darkened";
    for (int row = 0; row < 4; ++row)
        EXPECT_GT(field(row, 2), 5) << row;  // each changed the picture

    // Half opacity: red halfway over the grey photo.
    const QString half =
        Run(u"[Mark2]\nFile=%1\nSize=20\nOpacity=50\n"_s.arg(RedPng()), u"landscape.png"_s);
    const char probe[] = R"(
import sys
from PIL import Image
a, b = Image.open(sys.argv[1]).convert('RGB'), Image.open(sys.argv[2]).convert('RGB')
for p in ((540, 376), (600, 400), (655, 420)):
    print(*a.getpixel(p), *b.getpixel(p))
)";
    for (const QString& line :
         test::Python(QString::fromLatin1(probe), {Source(u"in/landscape.png"_s), half})
             .split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList v = line.split(u' ');
        const int grey = v[0].toInt();
        EXPECT_NEAR(v[3].toInt(), (255 + grey) / 2.0, 2) << line.toStdString();
        EXPECT_NEAR(v[4].toInt(), grey / 2.0, 2) << line.toStdString();
    }
}

TEST_F(StackTest, ShapeSvgAndBoxBehindText) {
    // A mark for portraits only.
    const QString portraitOnly = u"[Mark2]\nFile=%1\nOrientation=Portrait\n"_s.arg(RedPng());
    const auto shapes =
        Measure({Run(portraitOnly, u"landscape.png"_s), Run(portraitOnly, u"portrait.png"_s)});
    EXPECT_EQ(shapes[0][Red].count, 0);
    EXPECT_EQ(shapes[1][Red].count, 100 * 40);

    // A 20 x 10 logo, red and white halves, drawn 1000 px wide on a white
    // 2000 px picture: from the SVG the edge between its halves is one or
    // two pixels; from a raster of that size it is a blur.
    const char edge[] = R"(
import sys
from PIL import Image
for f in sys.argv[1:]:
    im = Image.open(f).convert('RGB')
    row = [im.getpixel((x, 500)) for x in range(900, 1100)]
    print(sum(1 for p in row if p != (255, 255, 255) and p != (255, 0, 0)))
)";
    const QStringList blurred =
        test::Python(
            QString::fromLatin1(edge),
            {Run(u"[Mark2]\nFile=%1\nSize=50\n"_s.arg(Source(u"logo.svg"_s)), u"white.png"_s),
             Run(u"[Mark2]\nFile=%1\nSize=50\n"_s.arg(Source(u"tiny.png"_s)), u"white.png"_s)})
            .split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(blurred.size(), 2);
    EXPECT_LE(blurred[0].toInt(), 2);
    EXPECT_GT(blurred[1].toInt(), 10);

    // A green box 12 px around blue text: the box holds the text, with
    // its padding (and the glyphs' side bearings) on each side.
    const auto boxed =
        Measure({Run(u"[Mark2]\nText=HHHH\nFont=DejaVu Sans\nColour=#0000FF\n"
                     "Size=6\nBox=#00FF00\nBoxPadding=12\nAnchor=TL\n"
                     "MarginX=50\nMarginY=50\n"_s,
                     u"landscape.png"_s)})[0];
    const QRect text = boxed[Blue].box, box = boxed[Green].box;
    EXPECT_NEAR_BOX(box, 50, 50, 50 + box.width(), 50 + 48 + 24, 1);
    EXPECT_TRUE(box.contains(text.adjusted(-12, -12, 12, 12))) << text.x() << "," << text.y();
    EXPECT_LT(text.left() - box.left(), 12 + 8);
    EXPECT_LT(box.right() - text.right(), 12 + 8);
}

TEST_F(StackTest, RefusedValuesWriteNothingAndOldFilesKeepTheirBytes) {
    test::WriteAll(ini_, "[MainVeldaDetails]\nText=x\n");
    for (const char* bad : {"Mark2.Rotate=400", "Mark2.Opacity=150", "Mark2.Blend=Foo",
                            "Mark17.Text=x", "Mark2.Colour=#12345", "Mark2.Orientation=Round"}) {
        const test::BatchResult r =
            test::RunVeldaBatch({u"--settings"_s, ini_, u"--set"_s, QString::fromLatin1(bad),
                                 Source(u"in"_s), out_, u"landscape.png"_s});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(bad))) << r.err.toStdString();
        EXPECT_FALSE(QDir(out_).exists()) << bad;
    }
    // A picture mark whose file is missing stops the run before any result.
    test::WriteAll(ini_, "[MainVeldaDetails]\nText=x\n[Mark3]\nFile=/nonexistent/logo.png\n");
    const test::BatchResult missing =
        test::RunVeldaBatch({u"--settings"_s, ini_, Source(u"in"_s), out_, u"landscape.png"_s});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.err.contains(u"Mark3: cannot load /nonexistent/logo.png"_s))
        << missing.err.toStdString();
    EXPECT_FALSE(QDir(out_).exists());

    // No section and an empty one give the same bytes, in both JPEG routes.
    for (const QStringList& args : {QStringList{}, QStringList{u"--lossless"_s}}) {
        const QString before =
            Run(u"[MainVeldaDetails]\nText=Ann\n"_s, u"photo.jpg"_s, args, u"jpg"_s);
        const QString after = Run(u"[MainVeldaDetails]\nText=Ann\n[Mark2]\n[Mark5]\nOpacity=\n"_s,
                                  u"photo.jpg"_s, args, u"jpg"_s);
        EXPECT_EQ(test::ReadAll(before), test::ReadAll(after));
    }

    // A preset holds the stack as Mark2.KEY: the same result as the section.
    const QString inSection =
        Run(u"[Mark2]\nFile=%1\nAnchor=TL\nRotate=10\n"_s.arg(RedPng()), u"landscape.png"_s);
    const QString fromPreset =
        Run(u"[Preset logo]\nMark2.File=%1\nMark2.Anchor=TL\nMark2.Rotate=10\n"_s.arg(RedPng()),
            u"landscape.png"_s, {u"--preset=logo"_s});
    EXPECT_EQ(test::ReadAll(inSection), test::ReadAll(fromPreset));
    EXPECT_GT(Measure({fromPreset})[0][Red].count, 3000);

    // Thousands of lines, and an SVG that claims to be 100000 pixels wide,
    // cost only what can show: the run ends at once, the picture whole.
    test::WriteAll(dir_.filePath(u"huge.svg"_s),
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100000\" "
                   "height=\"100000\"><rect width=\"100000\" height=\"100000\"/></svg>");
    const QString many = Run(u"[Mark2]\nText=%1\nSize=10\n[Mark3]\nFile=%2\n"_s.arg(
                                 u"HHHHHHHH\\n"_s.repeated(20000), dir_.filePath(u"huge.svg"_s)),
                             u"landscape.png"_s);
    EXPECT_EQ(test::Identify(many, u"%wx%h"_s), u"1200x800"_s);

    // Too small to be seen: left out, and said so.
    Run(u"[Mark2]\nFile=%1\nSize=0.5\n[Mark3]\nText=x\nSize=0.5\n"_s.arg(RedPng()),
        u"landscape.png"_s);
    EXPECT_TRUE(lastOut_.contains(u"Mark2 and Mark3 left out: under 8 pixels"_s))
        << lastOut_.toStdString();
}

TEST_F(StackTest, BlocksAwayFromTheStackAreKeptAndOtherScriptsDraw) {
    // Only the blocks under the marks' boxes are encoded anew: a corner far
    // from them decodes exactly as the source does.
    const QString kept =
        Run(u"[Mark2]\nFile=%1\nAnchor=BR\n[Mark3]\nText=日本語 ©\n"
            "Colour=#0000FF\nSize=8\nAnchor=BL\n"_s.arg(RedPng()),
            u"photo.jpg"_s, {u"--lossless"_s}, u"jpg"_s);
    EXPECT_FALSE(lastOut_.contains(u"wholly"_s)) << lastOut_.toStdString();
    const char corner[] = R"(
import sys
from PIL import Image, ImageChops
a, b = Image.open(sys.argv[1]).convert('RGB'), Image.open(sys.argv[2]).convert('RGB')
print(ImageChops.difference(a.crop((0, 0, 512, 400)), b.crop((0, 0, 512, 400))).getbbox())
)";
    EXPECT_EQ(
        test::Python(QString::fromLatin1(corner), {Source(u"in/photo.jpg"_s), kept}).trimmed(),
        u"None"_s);
    const auto f = Measure({kept})[0];
    EXPECT_NEAR(f[Red].box.right(), 1200, 3);
    // The CJK characters come from a fallback font: drawn, not blank.
    EXPECT_GT(f[Blue].count, 1000);
    EXPECT_LT(f[Blue].box.left(), 20);
}

TEST_F(StackTest, TheSameBytesOnEveryThreadAndInEveryOrder) {
    // Pieces of a real photo in two shapes, with a turned text in shadow
    // sized to each: one worker or four give the same files.
    test::Python(QStringLiteral(
                     "import sys\nfrom PIL import Image\n"
                     "im = Image.open(sys.argv[1]).convert('RGB')\n"
                     "for i in range(8):\n"
                     "    box = (0, 0, 900 + 40 * i, 600) if i % 2 else (0, 0, 600, 900 + 40 * i)\n"
                     "    im.crop(box).save(sys.argv[2] + '/p%d.jpg' % i, quality=90)"),
                 {u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s, in_});
    test::WriteAll(ini_,
                   "[MainVeldaDetails]\nText=\n[Mark2]\nText=Ann Author\nFont=DejaVu Serif\n"
                   "Size=5\nAnchor=BR\nRotate=8\nShadow=True\n");
    QList<QByteArray> first;
    for (const char* jobs : {"1", "4"}) {
        const QString out = dir_.filePath(u"jobs"_s + QLatin1String(jobs));
        const test::BatchResult r = test::RunVeldaBatch(
            {u"--settings"_s, ini_, u"-q"_s, u"--jobs"_s, QLatin1String(jobs), in_, out});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        for (int i = 0; i < 8; ++i) {
            const QByteArray bytes = test::ReadAll(out + u"/p%1.jpg"_s.arg(i));
            if (first.size() < 8) {
                first.append(bytes);
            } else {
                EXPECT_EQ(bytes, first[i]) << "p" << i;
            }
        }
    }
}

}  // namespace
}  // namespace velda
