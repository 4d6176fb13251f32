#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "batch/file_plan.h"
#include "imaging/codec.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

// What is decided for a file follows from its bytes and the job alone: the
// name it has does not matter, and every route is chosen in one place.
TEST(FilePlan, TheRouteFollowsTheSourceAndTheJob) {
    QTemporaryDir dir;
    QByteArray jpeg;
    ASSERT_TRUE(EncodeJpeg(test::MakePhoto(320, 200), 85, &jpeg).ok());
    const QString turnedPath = dir.filePath(u"turned.jpg"_s);
    test::WriteAll(turnedPath, jpeg);
    test::Run(u"exiftool"_s, {u"-q"_s, u"-overwrite_original"_s, u"-Orientation#=6"_s, turnedPath});
    QByteArray png;
    ASSERT_TRUE(EncodePng(test::MakePhoto(320, 200), 24, &png).ok());

    // A JPEG named as something else is a JPEG; a PNG named .jpg is not.
    const SourceInfo upright = ProbeSource(jpeg, u"photo.pcd"_s);
    const SourceInfo turned = ProbeSource(test::ReadAll(turnedPath), u"turned.jpg"_s);
    const SourceInfo other = ProbeSource(png, u"photo.jpg"_s);
    ASSERT_EQ(upright.format, FormatId::Jpeg);
    ASSERT_EQ(turned.orientation, 6);
    ASSERT_EQ(other.format, FormatId::Png);

    BatchJob job;
    job.text = u"(c)"_s;
    EXPECT_EQ(PlanFile(job, upright, job.text).route, FilePlan::Route::Rows);
    // Row by row works in the stored frame only.
    EXPECT_EQ(PlanFile(job, turned, job.text).route, FilePlan::Route::Whole);
    EXPECT_TRUE(PlanFile(job, turned, job.text).wholeReason.isEmpty());
    EXPECT_EQ(PlanFile(job, other, job.text).route, FilePlan::Route::Whole);
    // Row by row needs a band of rows; whole, the picture and more.
    EXPECT_LT(PlanFile(job, upright, job.text).reserveBytes,
              PlanWhole(job, upright, job.text).reserveBytes);

    job.losslessJpeg = true;
    EXPECT_EQ(PlanFile(job, upright, job.text).route, FilePlan::Route::KeepBlocks);
    EXPECT_EQ(PlanFile(job, turned, job.text).route, FilePlan::Route::KeepBlocks);
    EXPECT_EQ(PlanFile(job, other, job.text).route, FilePlan::Route::Whole);
    job.resize = ParseResizeTarget(u"long:100"_s).value();
    const FilePlan resized = PlanFile(job, turned, job.text);
    EXPECT_EQ(resized.route, FilePlan::Route::Whole);
    EXPECT_EQ(resized.wholeReason, u"resized"_s);
    EXPECT_EQ(resized.resized, QSize(63, 100));  // upright, proportions kept

    job.losslessJpeg = false;
    job.resize = {};
    job.output = FormatId::Gif;
    job.depth = 24;
    const FilePlan gif = PlanFile(job, upright, job.text);
    EXPECT_EQ(gif.route, FilePlan::Route::Whole);
    EXPECT_EQ(gif.output, &Format(FormatId::Gif));
    EXPECT_EQ(gif.depth, 8);

    // A lossless encode holds several times a lossy one's memory: the
    // budget reserves for it (WebP's own lossless, JPEG XL at quality 100).
    for (const FormatId id : {FormatId::Webp, FormatId::Jxl}) {
        SCOPED_TRACE(Format(id).name);
        job.output = id;
        job.webpLossless = false;
        job.jpegQuality = 90;
        const qint64 lossy = PlanFile(job, upright, job.text).reserveBytes;
        job.webpLossless = id == FormatId::Webp;
        job.jpegQuality = id == FormatId::Jxl ? 100 : 90;
        EXPECT_GT(PlanFile(job, upright, job.text).reserveBytes, lossy + 320 * 200 * 10);
    }
}

}  // namespace
}  // namespace velda
