// Marks that fit each picture, drawn by the batch's per-file pipeline on
// real photographs (cut and greyed by PIL) and measured by PIL.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "batch/batch_job.h"
#include "batch/tokens.h"
#include "batch/watermark_file.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

const QString kPhoto = u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s;

// Grey pieces of a real photo (no pure red anywhere), plain pictures, and
// a red watermark.
const char kSources[] = R"(
import sys
from PIL import Image
photo, out = sys.argv[1], sys.argv[2]
im = Image.open(photo).convert('L').convert('RGB')
im.crop((0, 0, 1200, 800)).save(out + '/landscape.png')
im.crop((0, 0, 800, 1200)).save(out + '/portrait.png')
for name, v in (('white', 255), ('black', 0), ('grey', 128)):
    Image.new('RGB', (600, 400), (v, v, v)).save(out + '/' + name + '.png')
Image.new('RGB', (100, 40), (255, 0, 0)).save(out + '/red.png')
)";

// Per file: the box of its red pixels (x0 y0 x1 y1, right and bottom
// exclusive) and their count; then the box of the pixels that differ by
// more than 30 from the top-left pixel, and the darkest and brightest
// values.
const char kMeasure[] = R"(
import sys
from PIL import Image, ImageChops
for f in sys.argv[1:]:
    im = Image.open(f).convert('RGB')
    r, g, b = im.split()
    red = ImageChops.multiply(ImageChops.multiply(
        r.point(lambda v: 255 if v > 200 else 0), g.point(lambda v: 255 if v < 60 else 0)),
        b.point(lambda v: 255 if v < 60 else 0))
    grey = im.convert('L')
    bg = grey.getpixel((0, 0))
    marked = grey.point(lambda v: 255 if abs(v - bg) > 30 else 0)
    lo, hi = grey.getextrema()
    print(*(red.getbbox() or (0, 0, 0, 0)), red.histogram()[255],
          *(marked.getbbox() or (0, 0, 0, 0)), lo, hi)
)";

struct Measured {
    QRect red;  // right and bottom exclusive, as QRect(x0, y0, w, h)
    int redCount = 0;
    QRect marked;
    int darkest = 0, brightest = 0;
};

class MarksTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        test::Python(QString::fromLatin1(kSources), {kPhoto, dir_->path()});
    }
    static void TearDownTestSuite() { delete dir_; }

    static QString In(const QString& name) { return dir_->filePath(name + u".png"_s); }

    // Marks one source with the red watermark (opaque) and the keys of
    // [Marks] given; returns the result's path.
    QString Mark(const QString& source, const QStringList& marks, const QString& text = QString(),
                 Status* status = nullptr, bool watermark = true) {
        WatermarkSettings s;
        s.WaterMarkFile = watermark ? In(u"red"_s) : QString();
        s.MixValue = 255;
        s.Text = text;
        s.ts = u"30"_s;
        s.Textclr = u"0000FF"_s;
        s.tfont = u"DejaVu Sans"_s;
        MarksSettings m;
        for (const QString& kv : marks)
            EXPECT_TRUE(m.Apply(kv.section(u'=', 0, 0), kv.section(u'=', 1))) << kv.toStdString();
        BatchJob job;
        ApplyPanelSettings(s, &job);
        QString message;
        EXPECT_TRUE(LoadJobPictures(s, &job, &message).ok()) << message.toStdString();
        job.layout = MarkLayoutFrom(m);
        PrepareMarks(&job);
        job.output = FormatId::Bmp;
        const QString out = dir_->filePath(u"out%1.bmp"_s.arg(++count_));
        const Status st = WatermarkFile(job, In(source), out, false);
        EXPECT_TRUE(st.ok()) << st.text().toStdString();
        if (status) *status = st;
        return out;
    }

    static std::vector<Measured> Measure(const QStringList& files) {
        std::vector<Measured> out;
        for (const QString& line :
             test::Python(QString::fromLatin1(kMeasure), files).split(u'\n', Qt::SkipEmptyParts)) {
            QList<int> v;
            for (const QString& n : line.split(u' '))
                v.append(n.toInt());
            out.push_back({QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1)), v[4],
                           QRect(QPoint(v[5], v[6]), QPoint(v[7] - 1, v[8] - 1)), v[9], v[10]});
        }
        return out;
    }

    static QTemporaryDir* dir_;
    int count_ = 0;
};
QTemporaryDir* MarksTest::dir_ = nullptr;

TEST_F(MarksTest, RelativeSizeAndAnchorsPutTheMarkExactlyWhereAsked) {
    // 20 % of the shorter edge: 160 x 64 on landscape and portrait alike.
    QStringList files = {Mark(u"landscape"_s, {"WatermarkSize=20", "WatermarkSizeOf=short"}),
                         Mark(u"portrait"_s, {"WatermarkSize=20", "WatermarkSizeOf=short"}),
                         Mark(u"portrait"_s, {"WatermarkSize=20"})};
    // Every anchor on the 1200 x 800 picture, margins 30 and 20 pixels,
    // then 5 % and 2.5 %, which are 60 and 20 pixels there.
    const struct {
        const char* anchor;
        int x, y;
    } anchors[] = {{"TL", 30, 20},  {"T", 520, 20},  {"TR", 1010, 20},
                   {"L", 30, 368},  {"C", 520, 368}, {"R", 1010, 368},
                   {"BL", 30, 716}, {"B", 520, 716}, {"BR", 1010, 716}};
    for (const auto& a : anchors) {
        files << Mark(u"landscape"_s, {"WatermarkSize=20", "WatermarkSizeOf=short",
                                       u"Anchor="_s + a.anchor, "MarginX=30", "MarginY=20"});
    }
    files << Mark(u"landscape"_s, {"WatermarkSize=20", "WatermarkSizeOf=short", "Anchor=TL",
                                   "MarginX=5%", "MarginY=2.5%"})
          << Mark(u"landscape"_s, {"WatermarkSize=20", "WatermarkSizeOf=short", "Anchor=BR",
                                   "MarginX=5%", "MarginY=2.5%"});
    const auto m = Measure(files);
    EXPECT_EQ(m[0].red.size(), QSize(160, 64));
    EXPECT_EQ(m[1].red.size(), QSize(160, 64));
    EXPECT_EQ(m[2].red.size(), QSize(160, 64));  // 20 % of the portrait's width
    for (size_t i = 0; i < std::size(anchors); ++i) {
        EXPECT_EQ(m[3 + i].red, QRect(anchors[i].x, anchors[i].y, 160, 64)) << anchors[i].anchor;
    }
    EXPECT_EQ(m[12].red, QRect(60, 20, 160, 64));
    EXPECT_EQ(m[13].red, QRect(980, 716, 160, 64));

    // A mark scaled under 8 pixels is left out, and the status says so.
    Status note;
    const auto tiny = Measure({Mark(u"landscape"_s, {"WatermarkSize=0.5"}, QString(), &note)});
    EXPECT_EQ(tiny[0].redCount, 0);
    EXPECT_TRUE(note.text().startsWith(u"watermark left out"_s)) << note.text().toStdString();
}

TEST_F(MarksTest, TilesCoverThePictureWithTheGapAndAngleAsked) {
    const QString straight = Mark(u"landscape"_s, {"Tile=True", "TileGap=50"});
    const QString turned = Mark(u"landscape"_s, {"Tile=True", "TileAngle=30"});
    const QString tight = Mark(u"landscape"_s, {"Tile=True", "TileGap=0"});
    const auto m = Measure({straight, turned, tight});
    // 100 x 40 tiles in 150 x 60 cells: 4/9 of the picture is red.
    const double area = 1200.0 * 800;
    EXPECT_NEAR(m[0].redCount / area, 4.0 / 9, 0.02);
    EXPECT_NEAR(m[1].redCount / area, 4.0 / 9, 0.03);
    EXPECT_GT(m[2].redCount / area, 0.99);  // no gap: covered
    // Rows and columns run on to every edge (a cell's gap at most).
    EXPECT_EQ(m[0].red.left(), 0);
    EXPECT_EQ(m[0].red.right(), 1199);
    EXPECT_LE(m[0].red.top(), 60);
    EXPECT_GE(m[0].red.bottom(), 739);

    // One tile sits on the centre; turned 30 degrees counter-clockwise,
    // the next one along its row is 150 pixels up and to the right.
    auto red = [](const QImage& im, int x, int y) {
        const QRgb p = im.pixel(x, y);
        return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
    };
    const QImage s(straight), t(turned);
    EXPECT_TRUE(red(s, 600, 400) && red(t, 600, 400));
    EXPECT_TRUE(red(t, 640, 377));  // inside the turned tile only
    EXPECT_FALSE(red(s, 640, 377));
    EXPECT_TRUE(red(t, 730, 325));   // the next tile's centre
    EXPECT_FALSE(red(t, 665, 362));  // the gap between them
    EXPECT_TRUE(red(s, 750, 400));   // straight: the next tile to the right
    EXPECT_FALSE(red(s, 675, 400));
}

TEST_F(MarksTest, TextStaysLegibleAndKeepsToItsAnchor) {
    const QString text = u"VELDA"_s;
    auto mark = [&](const QString& source, const QStringList& keys) {
        return Mark(source, keys, text, nullptr, false);
    };
    const auto m = Measure({
        mark(u"white"_s, {"TextAutoTone=True"}),
        mark(u"black"_s, {"TextAutoTone=True"}),
        mark(u"grey"_s, {}),
        mark(u"grey"_s, {"TextOutline=3"}),
        mark(u"grey"_s, {"TextShadow=True"}),
        mark(u"grey"_s, {"TextSize=5", "TextAnchor=BR", "TextMarginX=10", "TextMarginY=10"}),
    });
    // Auto tone: black on white, white on black, whatever Textclr says.
    EXPECT_LT(m[0].darkest, 40);
    EXPECT_EQ(m[0].redCount, 0);
    EXPECT_GT(m[1].brightest, 215);
    // Red text on grey has nothing darker than the grey; an outline (in
    // white, the tone that stands out from red) and a shadow add pixels
    // that only they can make.
    EXPECT_GE(m[2].darkest, 60);
    EXPECT_GT(m[3].brightest, 215);
    EXPECT_LT(m[2].brightest, 200);
    EXPECT_LT(m[4].darkest, 90);
    // 5 % of the 400-pixel edge is a 20-pixel line, its box ending 10
    // pixels from the right and bottom edges.
    const QRect box = m[5].marked;
    EXPECT_LE(box.right(), 589);
    EXPECT_GE(box.right(), 582);
    EXPECT_LE(box.bottom(), 389);
    EXPECT_GE(box.bottom(), 380);
    EXPECT_NEAR(box.height(), 15, 3);  // capitals are about 0.7 of the line
}

TEST_F(MarksTest, TokensComeFromTheFilesOwnMetadata) {
    // Braces, padding and unknown tokens.
    const auto lookup = [](const QString& t) -> std::optional<QString> {
        if (t == u"a") return u"A"_s;
        return std::nullopt;
    };
    EXPECT_EQ(ExpandTokens(u"{a}{{a}}{b}{a"_s, lookup), u"A{a}{b}{a"_s);
    EXPECT_EQ(ExpandTokens(u"}}{{}"_s, lookup), u"}{}"_s);

    // Metadata written by the exiv2 tool into a copy of a real photo.
    const QString photo = dir_->filePath(u"Holiday 1.jpg"_s);
    ASSERT_TRUE(QFile::copy(kPhoto, photo));
    test::Run(u"exiv2"_s, {u"-M"_s, u"set Exif.Image.Artist Ann Author"_s, u"-M"_s,
                           u"set Exif.Image.Copyright (c) Ann"_s, u"-M"_s,
                           u"set Exif.Photo.DateTimeOriginal 2021:06:15 10:00:00"_s, u"-M"_s,
                           u"set Iptc.Application2.Byline Ann Byline"_s, u"-M"_s,
                           u"set Xmp.dc.creator Ann Creator"_s, u"mo"_s, photo});
    int orientation = 0;
    const QByteArray data = test::ReadAll(photo);
    const QString all = QStringLiteral(
        "{name}|{date}|{year}|{counter}|{counter:3}|{Exif.Image.Artist}|{Exif.Image.Copyright}|"
        "{Iptc.Application2.Byline}|{Xmp.dc.creator}|{Exif.Image.Software}|{Exif.Nothing}|"
        "{width}|{bogus}");
    EXPECT_EQ(ExpandFileTokens(all, {photo, 7, ReadMetadata(data, &orientation), QSize(4, 3)}),
              QStringLiteral("Holiday 1|2021-06-15|2021|7|007|Ann Author|(c) Ann|Ann Byline|"
                             "Ann Creator||{Exif.Nothing}|4|{bogus}"));
    // Without EXIF the date is the file's own.
    const QString plain = In(u"grey"_s);
    test::Run(u"touch"_s, {u"-d"_s, u"2019-03-04 12:00"_s, plain});
    EXPECT_EQ(
        ExpandFileTokens(u"{date} {year} {Exif.Image.Artist}."_s, {plain, 1, nullptr, QSize()}),
        u"2019-03-04 2019 ."_s);

    // A batch draws the expanded line, exactly as if it had been typed.
    BatchJob job;
    WatermarkSettings s;
    s.ts = u"60"_s;
    s.Text = u"{Exif.Image.Artist} {date}"_s;
    ApplyPanelSettings(s, &job);
    job.output = FormatId::Bmp;
    const QString a = dir_->filePath(u"tokens.bmp"_s);
    const QString b = dir_->filePath(u"typed.bmp"_s);
    ASSERT_TRUE(WatermarkFile(job, photo, a, false).ok());
    job.text = u"Ann Author 2021-06-15"_s;
    ASSERT_TRUE(WatermarkFile(job, photo, b, false).ok());
    EXPECT_EQ(test::ReadAll(a), test::ReadAll(b));
    job.text = u"Ann Author 2021-06-16"_s;
    ASSERT_TRUE(WatermarkFile(job, photo, b, false).ok());
    EXPECT_NE(test::ReadAll(a), test::ReadAll(b));
}

}  // namespace
}  // namespace velda
