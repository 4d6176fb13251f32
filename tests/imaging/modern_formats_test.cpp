#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "imaging/picture_io.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

struct Reference {
    FormatId format;
    const char* ending;
    QString encoder;
    QStringList encodeArgs;  // %in and %out stand for the files
    QString decoder;
};

QStringList With(QStringList args, const QString& in, const QString& out) {
    for (QString& a : args)
        a.replace(u"%in"_s, in).replace(u"%out"_s, out);
    return args;
}

// The largest difference of one channel between two pictures of one size.
int MaxDifference(const QImage& a, const QImage& b) {
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return most;
}

// Files made by each format's reference encoder read as its reference
// decoder reads them, alpha included, whatever the file is called; a file
// cut short fails with a reason.
TEST(ModernFormats, ReferenceFilesReadAsTheirReferenceDecodersReadThem) {
    QTemporaryDir dir;
    QImage source = test::MakePhoto(96, 64).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 32; ++x) {
            const QRgb p = source.pixel(x, y);
            source.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), 4 * y));
        }
    const QString png = dir.filePath(u"source.png"_s);
    ASSERT_TRUE(source.save(png));
    const Reference references[] = {
        {FormatId::Heic,
         ".heic",
         u"heif-enc"_s,
         {u"-q"_s, u"90"_s, u"-o"_s, u"%out"_s, u"%in"_s},
         u"heif-convert"_s},
        {FormatId::Avif, ".avif", u"avifenc"_s, {u"%in"_s, u"%out"_s}, u"avifdec"_s},
        {FormatId::Jxl, ".jxl", u"cjxl"_s, {u"%in"_s, u"%out"_s, u"-d"_s, u"1"_s}, u"djxl"_s},
    };
    for (const Reference& r : references) {
        SCOPED_TRACE(r.ending);
        const QString file = dir.filePath(u"made"_s + QLatin1String(r.ending));
        const QString back = dir.filePath(u"back-"_s + QLatin1String(r.ending + 1) + u".png"_s);
        test::Run(r.encoder, With(r.encodeArgs, png, file));
        test::Run(r.decoder, {file, back});
        const QImage theirs(back);
        ASSERT_FALSE(theirs.isNull()) << "the reference tools made no file";

        const QByteArray bytes = test::ReadAll(file);
        EXPECT_EQ(SniffFormat(bytes, u"named.jpg"_s), r.format);
        Picture ours;
        const Status s = DecodePicture(bytes, u"named.jpg"_s, kPhotoCdBase, &ours);
        ASSERT_TRUE(s.ok()) << s.text().toStdString();
        EXPECT_EQ(ours.format, r.format);
        EXPECT_EQ(ours.depth, 32);
        ASSERT_EQ(ours.image.size(), theirs.size());
        EXPECT_LE(MaxDifference(ours.image.convertToFormat(QImage::Format_ARGB32),
                                theirs.convertToFormat(QImage::Format_ARGB32)),
                  2);

        Picture cut;
        const Status refused =
            DecodePicture(bytes.left(bytes.size() * 2 / 3), u"cut"_s, kPhotoCdBase, &cut);
        EXPECT_EQ(refused.code(), ErrorCode::CorruptData) << refused.text().toStdString();
        EXPECT_FALSE(refused.text().isEmpty());
    }

    // A phone's HEIC carries its EXIF and XMP into a JPEG made from it, as
    // an independent reader sees them.
    for (const char* ending : {".heic", ".avif"}) {
        SCOPED_TRACE(ending);
        const QString file = dir.filePath(u"made"_s + QLatin1String(ending));
        test::Run(u"exiftool"_s, {u"-q"_s, u"-overwrite_original"_s, u"-Artist=Ada"_s,
                                  u"-XMP-dc:Creator=Bea"_s, file});
        Picture tagged;
        ASSERT_TRUE(DecodePicture(test::ReadAll(file), file, kPhotoCdBase, &tagged).ok());
        ASSERT_TRUE(tagged.metadata);
        EXPECT_EQ(MetadataText(tagged.metadata.get(), u"Exif.Image.Artist"_s), u"Ada"_s);
        const QString jpeg = dir.filePath(u"from"_s + QLatin1String(ending) + u".jpg"_s);
        ASSERT_TRUE(WritePicture(tagged, Format(FormatId::Jpeg), jpeg, {}).ok());
        EXPECT_EQ(test::Run(u"exiftool"_s, {u"-s3"_s, u"-Artist"_s, u"-Creator"_s, jpeg}).trimmed(),
                  u"Ada\nBea"_s);
    }
}

}  // namespace
}  // namespace velda
