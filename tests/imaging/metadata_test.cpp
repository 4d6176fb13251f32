// Photographs come out whole: camera-like JPEGs with EXIF, GPS, IPTC, XMP
// and a colour profile, checked with the exiv2 command-line tool.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTransform>
#include <QtEndian>

#include "imaging/compositing.h"
#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

// Every key and raw value exiv2 finds, one "key value" a line; empty when
// the file has none.
QString AllTags(const QString& file) {
    QProcess p;
    p.start(u"exiv2"_s, {u"-Pkv"_s, file});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString Tag(const QString& all, const QString& key) {
    for (const QString& line : all.split(u'\n')) {
        if (line.startsWith(key + u' ')) return line.mid(key.size()).trimmed();
    }
    return QString();
}

// A minimal ICC header: size, signature, class; enough to travel byte for byte.
QByteArray IccProfile() {
    QByteArray icc(132, '\0');
    qToBigEndian<quint32>(132, icc.data());
    memcpy(icc.data() + 4, "lcms", 4);
    qToBigEndian<quint32>(0x02100000, icc.data() + 8);
    memcpy(icc.data() + 12, "mntrRGB XYZ ", 12);
    memcpy(icc.data() + 36, "acsp", 4);
    for (int i = 100; i < 128; ++i)
        icc[i] = static_cast<char>(i);
    return icc;
}

class MetadataTest : public ::testing::Test {
  protected:
    // A 60 x 30 upright picture, red in its top-left corner, stored turned
    // the way a camera held on its side stores it, and tagged.
    QString CameraFile(const char* name, int orientation) {
        QImage upright(60, 30, QImage::Format_RGB32);
        upright.fill(qRgb(128, 128, 128));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                upright.setPixel(x, y, qRgb(255, 0, 0));
        const QImage stored = upright.transformed(QTransform().rotate(orientation == 6 ? -90 : 90));
        const QString path = dir_.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(stored.save(path, "JPEG", 95));
        const QString base = path.left(path.size() - 4);
        test::WriteAll(base + u".icc"_s, IccProfile());
        test::MakePhoto(16, 8).save(base + u"-thumb.jpg"_s, "JPEG");
        const QStringList sets = {"set Exif.Image.Make TestCam",
                                  "set Exif.Image.Model X100",
                                  "set Exif.Photo.DateTimeOriginal 2026:01:02 03:04:05",
                                  "set Exif.Image.Copyright (c) Tester",
                                  "set Exif.GPSInfo.GPSLatitudeRef N",
                                  "set Exif.GPSInfo.GPSLatitude 48/1 51/1 24/1",
                                  u"set Exif.Image.Orientation %1"_s.arg(orientation),
                                  "set Exif.Photo.PixelXDimension Short 30",
                                  "set Exif.Photo.PixelYDimension Short 60",
                                  "set Exif.Iop.InteroperabilityIndex R98",
                                  "set Iptc.Application2.Byline Tester",
                                  "set Xmp.dc.creator Tester"};
        QStringList args;
        for (const QString& s : sets)
            args << u"-M"_s + s;
        test::Run(u"exiv2"_s, args + QStringList{path});
        test::Run(u"exiv2"_s, {u"-iC"_s, path});
        test::Run(u"exiv2"_s, {u"-it"_s, path});
        EXPECT_EQ(Tag(AllTags(path), u"Exif.Image.Make"_s), u"TestCam"_s);
        return path;
    }
    // Loads, marks the top-left corner blue, and stores in format.
    QString MarkAndStore(const QString& source, int format, bool keep, const char* outName) {
        Picbuf p;
        p.FileName = source;
        EXPECT_TRUE(p.LoadFile().ok());
        Picbuf wm, mask;
        EXPECT_TRUE(wm.CreatePicture(24, 8, 8, qRgb(0, 0, 255)).ok());
        EXPECT_TRUE(mask.CreatePicture(24, 8, 8, qRgb(255, 255, 255)).ok());
        ApplyImageWatermark(p, wm, mask, {});
        p.FileName = out_.filePath(QString::fromLatin1(outName));
        p.ImageFormat = format;
        p.WriteCompression = 95;
        p.KeepMetadata = keep;
        EXPECT_TRUE(p.Store().ok());
        return p.FileName;
    }

    QTemporaryDir dir_, out_;
};

TEST_F(MetadataTest, RotatedPhotosLoadUprightAndKeepEveryTag) {
    for (int orientation : {6, 8}) {
        SCOPED_TRACE(orientation);
        const QString src = CameraFile(orientation == 6 ? "six.jpg" : "eight.jpg", orientation);
        Picbuf p;
        p.FileName = src;
        ASSERT_TRUE(p.LoadFile().ok());
        EXPECT_EQ(p.Xresolution(), 60);
        EXPECT_EQ(p.Yresolution(), 30);
        EXPECT_GT(qRed(p.image().pixel(3, 3)), 200);
        EXPECT_LT(qRed(p.image().pixel(55, 25)), 160);

        for (int format : {Format(FormatId::Jpeg).code, Format(FormatId::Tiff).code}) {
            SCOPED_TRACE(format);
            const QString out = MarkAndStore(
                src, format, true, format == Format(FormatId::Jpeg).code ? "out.jpg" : "out.tif");
            const QString tags = AllTags(out);
            EXPECT_EQ(Tag(tags, u"Exif.Image.Make"_s), u"TestCam"_s);
            EXPECT_EQ(Tag(tags, u"Exif.Image.Model"_s), u"X100"_s);
            EXPECT_EQ(Tag(tags, u"Exif.Photo.DateTimeOriginal"_s), u"2026:01:02 03:04:05"_s);
            EXPECT_EQ(Tag(tags, u"Exif.Image.Copyright"_s), u"(c) Tester"_s);
            EXPECT_EQ(Tag(tags, u"Exif.GPSInfo.GPSLatitude"_s), u"48/1 51/1 24/1"_s);
            EXPECT_EQ(Tag(tags, u"Exif.Image.Orientation"_s), u"1"_s);
            EXPECT_EQ(Tag(tags, u"Exif.Photo.PixelXDimension"_s), u"60"_s);
            EXPECT_EQ(Tag(tags, u"Iptc.Application2.Byline"_s), u"Tester"_s);
            EXPECT_EQ(Tag(tags, u"Xmp.dc.creator"_s), u"Tester"_s);
            EXPECT_FALSE(tags.contains(u"Exif.Thumbnail.JPEGInterchangeFormat "_s));
            if (format == Format(FormatId::Tiff).code) {
                // libtiff reads every tag without a word of complaint.
                QProcess identify;
                identify.start(test::IdentifyTool(), {u"-verbose"_s, out});
                identify.waitForFinished(60000);
                EXPECT_EQ(identify.readAllStandardError(), QByteArray());
            }
            // The colour profile, byte for byte.
            QDir(out_.path()).remove(u"out.icc"_s);
            test::Run(u"exiv2"_s, {u"-eC"_s, u"-f"_s, out});
            EXPECT_EQ(test::ReadAll(out_.filePath(u"out.icc"_s)), IccProfile());
            // The mark sits in the upright picture's corner.
            const QImage back(out);
            EXPECT_EQ(back.size(), QSize(60, 30));
            EXPECT_GT(qBlue(back.pixel(3, 3)), 200);
            EXPECT_LT(qRed(back.pixel(3, 3)), 60);
            EXPECT_GT(qRed(back.pixel(14, 4)), 200);
        }
    }
}

TEST_F(MetadataTest, StrippingRemovesEverythingAndOtherFormatsGoWithout) {
    const QString src = CameraFile("six.jpg", 6);
    EXPECT_TRUE(AllTags(MarkAndStore(src, Format(FormatId::Jpeg).code, false, "stripped.jpg"))
                    .trimmed()
                    .isEmpty());
    EXPECT_TRUE(AllTags(MarkAndStore(src, Format(FormatId::Tiff).code, false, "stripped.tif"))
                    .contains(u"Exif.Image.ImageWidth"_s));
    EXPECT_FALSE(AllTags(out_.filePath(u"stripped.tif"_s)).contains(u"GPS"_s));
    const QString bmp = MarkAndStore(src, Format(FormatId::Bmp).code, true, "plain.bmp");
    EXPECT_EQ(QImage(bmp).size(), QSize(60, 30));
}

TEST_F(MetadataTest, DamagedMetadataIsDroppedAndThePictureStillConverts) {
    const QString src = CameraFile("six.jpg", 6);
    QByteArray data = test::ReadAll(src);
    const qsizetype exif = data.indexOf("Exif\0\0", 0);
    ASSERT_GT(exif, 0);
    for (qsizetype i = exif + 14; i < exif + 60; ++i)
        data[i] = static_cast<char>(0xFF);
    const QString damaged = dir_.filePath(u"damaged.jpg"_s);
    test::WriteAll(damaged, data);
    const QString out =
        MarkAndStore(damaged, Format(FormatId::Jpeg).code, true, "from-damaged.jpg");
    EXPECT_FALSE(QImage(out).isNull());
}

}  // namespace
}  // namespace velda
