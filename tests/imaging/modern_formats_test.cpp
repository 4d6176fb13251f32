#include <gtest/gtest.h>

#include <QColorSpace>
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

// The mean difference of a channel between two pictures of one size, from
// column left on.
double MeanDifference(const QImage& a, const QImage& b, int left) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = left; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.height() * (a.width() - left));
}

// The largest difference of one channel between two pictures of one size,
// from column left on.
int MaxDifference(const QImage& a, const QImage& b, int left = 0) {
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = left; x < a.width(); ++x) {
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

    // A JPEG XL coded in XYB with a profile of its own (ProPhoto grey 128)
    // is seen in sRGB, the profile dropped: not in the linear light the
    // decoder gives by default, nor tagged with a profile it is not in.
    QImage grey(32, 32, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    grey.setColorSpace(QColorSpace(QColorSpace::ProPhotoRgb));
    ASSERT_TRUE(grey.save(dir.filePath(u"prophoto.png"_s)));
    const QString xyb = dir.filePath(u"prophoto.jxl"_s);
    test::Run(u"cjxl"_s, {dir.filePath(u"prophoto.png"_s), xyb, u"-d"_s, u"1"_s});
    Picture seen;
    ASSERT_TRUE(DecodePicture(test::ReadAll(xyb), xyb, kPhotoCdBase, &seen).ok());
    EXPECT_NEAR(qGreen(seen.image.pixel(16, 16)), 146, 3);  // (128/255)^1.8 in sRGB
    EXPECT_FALSE(seen.metadata);

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

// Our HEIC, AVIF and JPEG XL results as the reference decoders and an
// independent metadata reader see them: the pixels and the transparency,
// the EXIF, XMP and IPTC of a tagged photo made true for the new file, its
// colour profile; JPEG XL at quality 100 is the picture exactly.
TEST(ModernFormats, OurResultsReadByTheReferenceToolsWithTheirMetadata) {
    QTemporaryDir dir;
    const QString jpeg = dir.filePath(u"tagged.jpg"_s);
    ASSERT_TRUE(test::MakePhoto(97, 61).save(jpeg, "JPEG", 95));
    const QString iccFile = dir.filePath(u"srgb.icc"_s);
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
    ASSERT_FALSE(icc.isEmpty());
    test::WriteAll(iccFile, icc);
    test::Run(u"exiftool"_s, {u"-q"_s, u"-overwrite_original"_s, u"-Artist=Ada"_s,
                              u"-Orientation#=6"_s, u"-XMP-dc:Creator=Bea"_s, u"-IPTC:City=Oslo"_s,
                              u"-ICC_Profile<="_s + iccFile, jpeg});
    Picture picture;
    ASSERT_TRUE(DecodePicture(test::ReadAll(jpeg), jpeg, kPhotoCdBase, &picture).ok());
    ASSERT_EQ(picture.image.size(), QSize(61, 97));  // turned as its EXIF said
    // The left quarter transparent.
    picture.image = picture.image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 97; ++y)
        for (int x = 0; x < 15; ++x)
            picture.image.setPixel(x, y, picture.image.pixel(x, y) & 0x00FFFFFF);
    picture.depth = 32;

    const std::pair<FormatId, QString> decoders[] = {
        {FormatId::Heic, u"heif-convert"_s},
        {FormatId::Avif, u"avifdec"_s},
        {FormatId::Jxl, u"djxl"_s},
    };
    for (const auto& [format, decoder] : decoders) {
        const FormatInfo& f = Format(format);
        SCOPED_TRACE(f.name);
        const QString file = dir.filePath(u"ours"_s + f.extension());
        WriteOptions options;
        options.quality = 90;
        const Status written = WritePicture(picture, f, file, options);
        ASSERT_TRUE(written.ok()) << written.text().toStdString();

        const QString back = dir.filePath(u"theirs-"_s + QLatin1String(f.name) + u".png"_s);
        test::Run(decoder, {file, back});
        const QImage theirs = QImage(back).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(theirs.size(), QSize(61, 97));
        EXPECT_EQ(qAlpha(theirs.pixel(3, 50)), 0);
        EXPECT_EQ(qAlpha(theirs.pixel(40, 50)), 255);
        EXPECT_LE(MeanDifference(theirs, picture.image, 16), 6.0);  // lossy, but the picture
        // The same pixels as ours, but for libavif's smoother chroma upsampling.
        Picture ours;
        ASSERT_TRUE(DecodePicture(test::ReadAll(file), file, kPhotoCdBase, &ours).ok());
        EXPECT_LE(MaxDifference(ours.image.convertToFormat(QImage::Format_ARGB32), theirs, 16),
                  format == FormatId::Avif ? 12 : 2);

        EXPECT_EQ(test::Run(u"exiftool"_s, {u"-s3"_s, u"-n"_s, u"-Artist"_s, u"-Creator"_s,
                                            u"-City"_s, u"-Orientation"_s, file})
                      .trimmed(),
                  u"Ada\nBea\nOslo\n1"_s);
        if (format != FormatId::Jxl) {
            // JPEG XL keeps its profile inside the picture's own header.
            test::Run(u"exiftool"_s,
                      {u"-q"_s, u"-b"_s, u"-ICC_Profile"_s, u"-w!"_s, u"%d%f-icc.dat"_s, file});
            EXPECT_EQ(test::ReadAll(dir.filePath(u"ours-icc.dat"_s)), icc);
        }
    }

    // Quality 100 in JPEG XL: not one value changed, transparent pixels' too.
    const QString exact = dir.filePath(u"exact.jxl"_s);
    WriteOptions lossless;
    lossless.quality = 100;
    ASSERT_TRUE(WritePicture(picture, Format(FormatId::Jxl), exact, lossless).ok());
    test::Run(u"djxl"_s, {exact, dir.filePath(u"exact.png"_s)});
    EXPECT_EQ(
        MaxDifference(QImage(dir.filePath(u"exact.png"_s)).convertToFormat(QImage::Format_ARGB32),
                      picture.image),
        0);
    Picture again;
    ASSERT_TRUE(DecodePicture(test::ReadAll(exact), exact, kPhotoCdBase, &again).ok());
    EXPECT_EQ(MaxDifference(again.image.convertToFormat(QImage::Format_ARGB32), picture.image), 0);
    ASSERT_TRUE(again.metadata);
    EXPECT_EQ(MetadataText(again.metadata.get(), u"Xmp.dc.creator"_s), u"Bea"_s);
}

}  // namespace
}  // namespace velda
