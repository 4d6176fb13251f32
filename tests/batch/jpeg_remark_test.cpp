// JPEG to JPEG keeping every block the marks leave alone, on real
// photographs in each form cameras and editors write, checked with PIL's
// decoder and against the normal path's drawing.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "batch/batch_job.h"
#include "imaging/metadata.h"
#include "imaging/picture_io.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

// A real photograph (progressive, 4:2:0, 2572 x 1740: no multiple of the MCU).
const QString kPhoto = u"/usr/share/backgrounds/Picture_0B_by_freespace.jpg"_s;

// The photo's corner in each form: baseline at every subsampling, progressive,
// greyscale, and with restart markers every five MCUs; 1003 x 707 pixels.
const char* kVariants = R"(
import sys
from PIL import Image
src, out = sys.argv[1], sys.argv[2]
im = Image.open(src).convert('RGB').crop((300, 200, 1303, 907))
im.save(out + '/s444.jpg', quality=90, subsampling=0)
im.save(out + '/s422.jpg', quality=90, subsampling=1)
im.save(out + '/s420.jpg', quality=90, subsampling=2)
im.save(out + '/progressive.jpg', quality=85, subsampling=2, progressive=True)
im.convert('L').save(out + '/grey.jpg', quality=90)
)";

// The box of the pixels where two pictures differ, as PIL decodes them:
// "x0 y0 x1 y1" (exclusive), or "none".
const char* kDifference = R"(
import sys
from PIL import Image, ImageChops
a, b = (Image.open(p).convert('RGB') for p in sys.argv[1:3])
box = ImageChops.difference(a, b).getbbox()
print('none' if box is None else ' '.join(map(str, box)))
)";

// The footprint grown to the 16-pixel grid and by one more MCU all round:
// where the decoder's chroma upsampling may carry a re-encoded block's change.
QRect Allowed(const QRect& footprint) {
    const int x0 = footprint.left() / 16 * 16 - 16, y0 = footprint.top() / 16 * 16 - 16;
    const int x1 = (footprint.right() / 16 + 2) * 16, y1 = (footprint.bottom() / 16 + 2) * 16;
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}

Picture TrueColour(const QImage& image) {
    Picture p;
    p.image = image.convertToFormat(QImage::Format_RGB32);
    p.depth = 24;
    return p;
}

class JpegRemarkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // A watermark cut from another real photo, blended at 60 %, and a
        // line of text: both across MCU edges.
        Picture logo;
        ASSERT_TRUE(
            LoadPicture(u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s, 3, &logo).ok());
        job_.watermark = TrueColour(logo.image.copy(900, 1500, 181, 75));
        QImage grey(181, 75, QImage::Format_RGB32);
        grey.fill(qRgb(153, 153, 153));
        job_.mask = TrueColour(grey);
        job_.placement.x = 413.4;
        job_.placement.y = 301;
        job_.text = u"(c) 2026 Velda"_s;
        job_.textX = 37;
        job_.textY = 45;
        job_.textSize = 29;
        job_.textStyle.pixels = true;
        job_.textStyle.colour = u"00FFFF"_s;
        job_.textStyle.font = u"DejaVu Sans"_s;
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    // The normal path's drawing: the upright decoded source with the marks.
    QImage NormalPath(const QString& source) const {
        Picture p;
        EXPECT_TRUE(LoadPicture(source, 3, &p).ok());
        Picbuf picture;
        picture.PasteClipboard(p);
        Picbuf watermark, mask;
        watermark.PasteClipboard(job_.watermark);
        mask.PasteClipboard(job_.mask);
        ApplyImageWatermark(picture, watermark, mask, job_.placement);
        DrawTextWatermark(picture, job_.text, job_.textX, job_.textY, job_.textSize,
                          picture.Xresolution(), picture.Yresolution(), job_.textStyle);
        return picture.image().convertToFormat(QImage::Format_RGB32);
    }

    JpegRemark Remark(const QString& source, const QString& target) const {
        JpegRemark remark;
        EXPECT_TRUE(RemarkJpegData(test::ReadAll(source), JobMarks(job_), true, {}, &remark).ok());
        EXPECT_TRUE(remark.wholeReason.isEmpty()) << remark.wholeReason.toStdString();
        test::WriteAll(target, remark.file);
        return remark;
    }

    QTemporaryDir dir_;
    BatchJob job_;
};

TEST_F(JpegRemarkTest, OnlyTheBlocksUnderTheMarksChangeInEveryForm) {
    test::Python(QString::fromLatin1(kVariants), {kPhoto, dir_.path()});
    test::Run(u"jpegtran"_s,
              {u"-restart"_s, u"5B"_s, u"-outfile"_s, Path("restart.jpg"), Path("s420.jpg")});
    QStringList sources = {kPhoto};
    for (const char* name : {"s444", "s422", "s420", "progressive", "grey", "restart"})
        sources << Path(QString::fromLatin1(name) + u".jpg"_s);

    for (const QString& source : sources) {
        SCOPED_TRACE(source.toStdString());
        const QString result = Path(u"result.jpg"_s);
        const JpegRemark remark = Remark(source, result);
        ASSERT_GT(remark.blocksRedone, 0);
        Picture written;
        ASSERT_TRUE(LoadPicture(result, 3, &written).ok());
        const QRect footprint = JobMarks(job_).footprint(written.image.size());

        // Everywhere else, PIL sees the source's very pixels.
        const QStringList box =
            test::Python(QString::fromLatin1(kDifference), {source, result}).trimmed().split(u' ');
        ASSERT_EQ(box.size(), 4) << box.join(u' ').toStdString();
        const QRect changed(QPoint(box[0].toInt(), box[1].toInt()),
                            QPoint(box[2].toInt() - 1, box[3].toInt() - 1));
        EXPECT_TRUE(Allowed(footprint).contains(changed))
            << changed.x() << "," << changed.y() << " " << changed.width() << "x"
            << changed.height();
        // Under the marks, the normal path's drawing at the source's quality
        // (in grey for a grey photo, which stays one).
        QImage normal = NormalPath(source);
        if (source.endsWith(u"grey.jpg"_s))
            normal = normal.convertToFormat(QImage::Format_Grayscale8)
                         .convertToFormat(QImage::Format_RGB32);
        const QImage mine = written.image.convertToFormat(QImage::Format_RGB32);
        EXPECT_GT(test::Psnr(normal, mine, footprint), 30.0);
        // Drawn where they belong.
        const QRect logo(414, 301, 181, 75);
        EXPECT_GT(test::Psnr(normal, mine, logo), 30.0);
    }
}

TEST_F(JpegRemarkTest, TurnedPhotosKeepTheirOrientationAndShowTheMarksUpright) {
    test::Python(QString::fromLatin1(kVariants), {kPhoto, dir_.path()});
    const QString upright = Path(u"s420.jpg"_s);
    Picture straight;
    ASSERT_TRUE(LoadPicture(upright, 3, &straight).ok());
    // Stored turned as a camera held otherwise stores it, then tagged.
    const std::pair<int, const char*> turns[] = {
        {3, "ROTATE_180"}, {6, "ROTATE_90"}, {8, "ROTATE_270"}};
    for (const auto& [orientation, rotate] : turns) {
        SCOPED_TRACE(orientation);
        const QString stored = Path(u"turned%1.jpg"_s.arg(orientation));
        test::Python(QStringLiteral("import sys\nfrom PIL import Image\n"
                                    "Image.open(sys.argv[1]).transpose(Image.Transpose.%1)"
                                    ".save(sys.argv[2], quality=90)")
                         .arg(QString::fromLatin1(rotate)),
                     {upright, stored});
        test::Run(u"exiv2"_s, {u"-Mset Exif.Image.Orientation %1"_s.arg(orientation), stored});

        const QString result = Path(u"result%1.jpg"_s.arg(orientation));
        const JpegRemark remark = Remark(stored, result);
        int kept = 0;
        ReadMetadata(remark.file, &kept);
        EXPECT_EQ(kept, orientation);
        EXPECT_EQ(QSize(remark.width, remark.height),
                  orientation == 3 ? straight.image.size() : straight.image.size().transposed());

        // Seen upright, the marks stand where the normal path puts them.
        Picture seen;
        ASSERT_TRUE(LoadPicture(result, 3, &seen).ok());
        ASSERT_EQ(seen.image.size(), straight.image.size());
        const QImage normal = NormalPath(stored);
        const QImage mine = seen.image.convertToFormat(QImage::Format_RGB32);
        const QRect footprint = JobMarks(job_).footprint(mine.size());
        EXPECT_GT(test::Psnr(normal, mine, footprint), 30.0);
        EXPECT_GT(test::Psnr(normal, mine, mine.rect()), 40.0);
    }
}

TEST_F(JpegRemarkTest, MarksDrawnIntoAnyRegionEqualTheNormalPathsPixels) {
    // The region drawing is the normal path's: same blend, same glyphs, for
    // any part of the picture and fractional placements.
    QImage photo = test::MakePhoto(900, 500);
    job_.placement.percent = true;
    job_.placement.x = 33.37;
    job_.placement.y = 41.5;
    job_.textStyle.pixels = false;
    job_.textX = 12;
    job_.textY = 7;
    Picbuf whole;
    whole.PasteClipboard(TrueColour(photo));
    Picbuf watermark, mask;
    watermark.PasteClipboard(job_.watermark);
    mask.PasteClipboard(job_.mask);
    ApplyImageWatermark(whole, watermark, mask, job_.placement);
    DrawTextWatermark(whole, job_.text, job_.textX, job_.textY, job_.textSize, 900, 500,
                      job_.textStyle);
    const RegionMarks marks = JobMarks(job_);
    const QRect footprint = marks.footprint(photo.size());
    for (const QRect& r :
         {QRect(0, 0, 900, 500), QRect(96, 16, 480, 400), QRect(301, 217, 77, 31)}) {
        QImage region = photo.copy(r);
        marks.paint(region, r.topLeft(), photo.size());
        EXPECT_EQ(region, whole.image().copy(r)) << r.x() << "," << r.y();
    }
    // Nothing drawn outside the footprint.
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 900; ++x)
            if (!footprint.contains(x, y)) {
                ASSERT_EQ(whole.image().pixel(x, y), photo.pixel(x, y));
            }
}

TEST_F(JpegRemarkTest, RowByRowEncodingIsTheWholePicturesToTheByte) {
    test::Python(QString::fromLatin1(kVariants), {kPhoto, dir_.path()});
    // The classic marks; an anchored, outlined, auto-toned text over a
    // sized watermark; tiles over the whole picture; no marks at all.
    BatchJob anchored = job_, tiled = job_, bare = job_;
    anchored.layout.anchor = Anchor::BottomRight;
    anchored.layout.watermarkSize = 20;
    anchored.layout.textAnchor = Anchor::Bottom;
    anchored.layout.textOutline = 2;
    anchored.layout.textAutoTone = true;
    tiled.layout.tile = true;
    tiled.layout.tileAngle = 30;
    bare.watermark = bare.mask = Picture();
    bare.text.clear();
    for (const char* name : {"s444", "s420", "progressive"}) {
        const QByteArray data = test::ReadAll(Path(QString::fromLatin1(name) + u".jpg"_s));
        int index = 0;
        for (BatchJob* job : {&job_, &anchored, &tiled, &bare}) {
            SCOPED_TRACE(std::string(name) + " job " + std::to_string(index++));
            PrepareMarks(job);
            Picture decoded;
            ASSERT_TRUE(DecodePicture(data, QString(), 3, &decoded).ok());
            Picbuf whole;
            whole.PasteClipboard(decoded);
            DrawJobMarks(*job, job->text, whole);
            QByteArray expected;
            ASSERT_TRUE(
                EncodePicture(Picture{whole.image(), 24, {}}, Format(FormatId::Jpeg), 75, &expected)
                    .ok());
            JpegRemark rows;
            ASSERT_TRUE(MarkJpegDataRows(data, JobMarks(*job), 75, false, {}, &rows).ok());
            EXPECT_TRUE(rows.file == expected) << rows.file.size() << " " << expected.size();
        }
    }
    // Grey and turned photos are left to the whole decode; damage fails.
    JpegRemark grey, turned, cut;
    ASSERT_TRUE(
        MarkJpegDataRows(test::ReadAll(Path("grey.jpg")), JobMarks(job_), 75, true, {}, &grey)
            .ok());
    EXPECT_TRUE(grey.file.isEmpty());
    const QByteArray upright = test::ReadAll(Path("s420.jpg"));
    EXPECT_FALSE(
        MarkJpegDataRows(upright.left(upright.size() / 2), JobMarks(job_), 75, true, {}, &cut)
            .ok());
    EXPECT_TRUE(cut.file.isEmpty());
    test::Run(u"exiv2"_s, {u"-Mset Exif.Image.Orientation 6"_s, Path("s420.jpg")});
    ASSERT_TRUE(
        MarkJpegDataRows(test::ReadAll(Path("s420.jpg")), JobMarks(job_), 75, true, {}, &turned)
            .ok());
    EXPECT_TRUE(turned.file.isEmpty());
}

TEST_F(JpegRemarkTest, StoredPointsFollowTheOrientationsTurns) {
    QImage stored(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            stored.setPixel(x, y, qRgb(x * 40, y * 80, 7));
    for (int o = 1; o <= 8; ++o) {
        const QImage upright = ApplyOrientation(stored, o);
        for (int y = 0; y < upright.height(); ++y)
            for (int x = 0; x < upright.width(); ++x) {
                const QPoint s = StoredPoint(QPoint(x, y), o, stored.size());
                ASSERT_EQ(upright.pixel(x, y), stored.pixel(s)) << o << " " << x << "," << y;
                // And the inverse turn brings the pixel back.
                EXPECT_EQ(StoredPoint(s, InverseOrientation(o), upright.size()), QPoint(x, y));
            }
    }
}

TEST_F(JpegRemarkTest, PicturesThatCannotKeepTheirBlocksSayWhyAndDamageFails) {
    test::Python(QString::fromLatin1(kVariants), {kPhoto, dir_.path()});
    test::Run(test::ConvertTool(),
              {Path("s420.jpg"), u"-colorspace"_s, u"CMYK"_s, Path("cmyk.jpg")});
    test::Run(u"jpegtran"_s,
              {u"-arithmetic"_s, u"-outfile"_s, Path("arith.jpg"), Path("s420.jpg")});
    for (const auto& [name, why] : {std::pair{"cmyk.jpg", "CMYK"}, {"arith.jpg", "arithmetic"}}) {
        JpegRemark remark;
        ASSERT_TRUE(
            RemarkJpegData(test::ReadAll(Path(name)), JobMarks(job_), true, {}, &remark).ok());
        EXPECT_TRUE(remark.file.isEmpty());
        EXPECT_EQ(remark.wholeReason, QString::fromLatin1(why));
    }
    // A progressive file that never sends one component's scans (found by
    // fuzzing): no table to re-encode with, so the normal path judges it.
    JpegRemark partial;
    ASSERT_TRUE(RemarkJpegData(test::ReadAll(QStringLiteral(
                                   VELDA_TEST_DATA "/fuzz/jpeg/valid-component-without-scans.jpg")),
                               JobMarks(job_), true, {}, &partial)
                    .ok());
    EXPECT_EQ(partial.wholeReason, u"incomplete"_s);
    // Not a JPEG: nothing to say, the normal path takes it.
    JpegRemark png;
    ASSERT_TRUE(
        RemarkJpegData(QByteArray("\x89PNG\r\n\x1a\n", 8), JobMarks(job_), true, {}, &png).ok());
    EXPECT_TRUE(png.file.isEmpty() && png.wholeReason.isEmpty());
    // Cut short or damaged: the file fails, nothing is written.
    const QByteArray whole = test::ReadAll(Path("s420.jpg"));
    for (const QByteArray& bad : {whole.left(whole.size() / 2),
                                  whole.left(700) + QByteArray(4000, '\xff') + whole.mid(4700)}) {
        JpegRemark remark;
        EXPECT_FALSE(RemarkJpegData(bad, JobMarks(job_), true, {}, &remark).ok());
        EXPECT_TRUE(remark.file.isEmpty());
    }
}

}  // namespace
}  // namespace velda
