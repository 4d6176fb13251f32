// velda-batch writing for publication: resized, in PNG and WebP, named by
// templates, in kept folder trees, from presets, planned by a dry run;
// the results read back by PIL, ImageMagick, webpinfo and exiv2.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "support/test_support.h"

using namespace Qt::StringLiterals;

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

class OutputTest : public test::BatchFolders {
  protected:
    void SetUp() override {
        test::Python(QString::fromLatin1(kSources),
                     {u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s, dir_.path()});
        test::Run(u"exiv2"_s, {u"-M"_s, u"set Exif.Image.Artist Ann Author"_s, u"-M"_s,
                               u"set Exif.Photo.DateTimeOriginal 2021:06:15 10:00:00"_s, u"-M"_s,
                               u"set Xmp.dc.creator Ann Creator"_s, u"mo"_s, in_ + u"/wide.jpg"_s});
        test::WriteAll(ini_, "[MainVeldaDetails]\nMixValue=255\n");
    }
    // Runs velda-batch; returns standard output, expecting exit status code.
    QString Batch(QStringList args, int code = 0) {
        const test::BatchResult r =
            test::RunVeldaBatch(QStringList{u"--settings"_s, ini_, u"-q"_s} + args);
        EXPECT_EQ(r.code, code) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    }
    QString Size(const QString& file) { return test::Identify(file, u"%wx%h"_s); }
    // Every file under a folder, relative to it, sorted.
    static QStringList Files(const QString& root) {
        QStringList out;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            out.append(QDir(root).relativeFilePath(it.next()));
        out.sort();
        return out;
    }
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
        Batch(
            {u"--resize"_s, QString::fromLatin1(c.size), in_, out_, u"wide.jpg"_s, u"small.jpg"_s});
        EXPECT_EQ(Size(out_ + u"/wide.jpg"_s), QString::fromLatin1(c.wide)) << c.size;
        EXPECT_EQ(Size(out_ + u"/small.jpg"_s), QString::fromLatin1(c.small)) << c.size;
    }
    // Area averaging: a 1-pixel checkerboard shrunk is an even grey, not
    // a pattern of picked pixels; a JPEG one too, decoded at a fraction of
    // its size first.
    for (const char* board : {"board.png", "board.jpg"}) {
        QDir(out_).removeRecursively();
        Batch({u"--resize=long:100"_s, u"--format=png"_s, in_, out_, QLatin1String(board)});
        const QStringList stats =
            test::Identify(out_ + u"/board.png"_s, u"%wx%h %[mean] %[standard-deviation]"_s)
                .split(u' ');
        EXPECT_EQ(stats[0], u"100x100"_s) << board;
        EXPECT_NEAR(stats[1].toDouble() / 65535, 0.5, 0.02) << board;
        EXPECT_LT(stats[2].toDouble() / 65535, 0.02) << board;
    }

    // A mark sized in percent lands on the resized photo exactly as on a
    // photo that was that size to begin with.
    QDir(out_).removeRecursively();
    QDir().mkpath(dir_.filePath(u"in600"_s));
    QFile::rename(dir_.filePath(u"same600.png"_s), dir_.filePath(u"in600/wide.png"_s));
    const QStringList marks = {u"--set"_s,
                               u"WaterMarkFile="_s + dir_.filePath(u"red.png"_s),
                               u"--set=WatermarkSize=10"_s,
                               u"--set=Anchor=BR"_s,
                               u"--set=MarginX=2%"_s,
                               u"--format=png"_s};
    Batch(marks + QStringList{u"--resize=width:600"_s, in_, out_, u"wide.jpg"_s});
    Batch(marks + QStringList{dir_.filePath(u"in600"_s), dir_.filePath(u"out600"_s)});
    const QString boxes = test::Python(
        QString::fromLatin1(kRedBox), {out_ + u"/wide.png"_s, dir_.filePath(u"out600/wide.png"_s)});
    EXPECT_EQ(boxes, u"528 376 588 400\n528 376 588 400\n"_s);

    // A JPEG's blocks cannot be kept at a new size, and the report says so.
    const test::BatchResult r = test::RunVeldaBatch(
        {u"--settings"_s, ini_, u"--lossless"_s, u"--resize=long:300"_s, in_, out_, u"wide.jpg"_s});
    EXPECT_TRUE(r.err.contains(u"wide.jpg: wholly re-encoded (resized)"_s));
    EXPECT_EQ(Size(out_ + u"/wide.jpg"_s), u"300x200"_s);
}

// The references a resize is measured against: PIL's Lanczos of the same
// pixels; a flat colour; white beside transparent black.
const char kResizeSources[] = R"(
import sys
from PIL import Image
folder, wide_jpg = sys.argv[1], sys.argv[2]
photo = Image.open(wide_jpg).convert('RGB')
photo.save(folder + '/in/photo.png')
photo.resize((700, 467), Image.LANCZOS).save(folder + '/pil-photo.png')
photo.resize((450, 300), Image.LANCZOS).save(folder + '/pil-photo450.png')
Image.new('RGB', (999, 666), (37, 150, 201)).save(folder + '/in/flat.png')
edge = Image.new('RGBA', (1200, 400), (0, 0, 0, 0))
edge.paste((255, 255, 255, 255), (600, 0, 1200, 400))
edge.save(folder + '/in/edge.png')
)";

TEST_F(OutputTest, LanczosResizesAsPilDoesAndAreaStaysAvailable) {
    const QString folder = dir_.filePath(u"lanczos"_s);
    QDir().mkpath(folder + u"/in"_s);
    test::Python(QString::fromLatin1(kResizeSources), {folder, in_ + u"/wide.jpg"_s});
    const auto psnr = [&](const QString& ours, const QString& reference) {
        return test::Psnr(QImage(ours).convertToFormat(QImage::Format_RGB32),
                          QImage(reference).convertToFormat(QImage::Format_RGB32));
    };
    const QString lanczos = folder + u"/lanczos"_s, area = folder + u"/area"_s;
    Batch({u"--resize=long:700"_s, u"--format=png"_s, folder + u"/in"_s, lanczos});
    Batch({u"--resize=long:700"_s, u"--format=png"_s, u"--set=ResizeFilter=area"_s,
           folder + u"/in"_s, area});
    // The same filter as PIL's, to the rounding; the box filter is far off.
    const double same = psnr(lanczos + u"/photo.png"_s, folder + u"/pil-photo.png"_s);
    EXPECT_GT(same, 60);
    EXPECT_LT(psnr(area + u"/photo.png"_s, folder + u"/pil-photo.png"_s), same - 8);
    // A JPEG too large for a halving to hold the size is decoded whole.
    Batch({u"--resize=long:700"_s, u"--format=png"_s, in_, lanczos, u"wide.jpg"_s});
    EXPECT_GT(psnr(lanczos + u"/wide.png"_s, folder + u"/pil-photo.png"_s), 60);
    // One decoded at half its size first comes close to a full decode's.
    Batch({u"--resize=long:450"_s, u"--format=png"_s, in_, folder + u"/half"_s, u"wide.jpg"_s});
    EXPECT_GT(psnr(folder + u"/half/wide.png"_s, folder + u"/pil-photo450.png"_s), 40);

    // Flat stays flat to the last pixel of every edge: no ringing, no
    // shade gained in the weights' rounding.
    const QImage flat(lanczos + u"/flat.png"_s);
    ASSERT_EQ(flat.size(), QSize(700, 467));
    for (int y = 0; y < flat.height(); ++y)
        for (int x = 0; x < flat.width(); ++x)
            ASSERT_EQ(flat.pixel(x, y), qRgb(37, 150, 201)) << x << "," << y;
    // Transparent black lends no darkness to the white beside it.
    const QImage edge = QImage(lanczos + u"/edge.png"_s).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(edge.size(), QSize(700, 233));
    for (int x = 350; x < 700; ++x) {
        const QRgb p = edge.pixel(x, 100);
        if (qAlpha(p) > 0) {
            EXPECT_EQ(qRed(p), 255) << x << " alpha " << qAlpha(p);
        }
    }
    EXPECT_EQ(qAlpha(edge.pixel(10, 100)), 0);
    EXPECT_EQ(qAlpha(edge.pixel(690, 100)), 255);

    // A word the key does not know is refused, naming it.
    const test::BatchResult r = test::RunVeldaBatch(
        {u"--settings"_s, ini_, u"--set=ResizeFilter=bicubic"_s, in_, out_, u"wide.jpg"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"ResizeFilter"_s)) << r.err.toStdString();
    EXPECT_FALSE(QDir(out_).exists(u"wide.jpg"_s));
}

// Mean absolute difference of neighbouring pixels' grey: how hard the
// edges are.
double Acutance(const QImage& image) {
    double sum = 0;
    for (int y = 0; y + 1 < image.height(); ++y)
        for (int x = 0; x + 1 < image.width(); ++x) {
            const int g = qGray(image.pixel(x, y));
            sum += std::abs(g - qGray(image.pixel(x + 1, y))) +
                   std::abs(g - qGray(image.pixel(x, y + 1)));
        }
    return sum / (2.0 * (image.width() - 1) * (image.height() - 1));
}

TEST_F(OutputTest, SharpeningRaisesAcutanceInOrderAndLeavesFlatAndAlphaAlone) {
    QImage flat(400, 300, QImage::Format_ARGB32);
    flat.fill(qRgba(90, 160, 30, 200));
    ASSERT_TRUE(flat.save(in_ + u"/flat.png"_s));
    double last = -1;
    for (const char* level : {"none", "low", "standard", "high"}) {
        const QString out = out_ + u'-' + QLatin1String(level);
        Batch({u"--resize=long:600"_s, u"--format=png"_s,
               u"--set=Sharpen="_s + QLatin1String(level), in_, out, u"wide.jpg"_s, u"flat.png"_s});
        const double acutance = Acutance(QImage(out + u"/wide.png"_s));
        EXPECT_GT(acutance, last * 1.05) << level << " " << acutance;
        last = acutance;
        const QImage sharpFlat =
            QImage(out + u"/flat.png"_s).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(sharpFlat.size(), QSize(400, 300));
        for (int y = 0; y < 300; y += 7)
            for (int x = 0; x < 400; x += 7)
                ASSERT_EQ(sharpFlat.pixel(x, y), qRgba(90, 160, 30, 200)) << level;
    }
    const test::BatchResult r = test::RunVeldaBatch(
        {u"--settings"_s, ini_, u"--set=Sharpen=extreme"_s, in_, out_, u"wide.jpg"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"Sharpen"_s)) << r.err.toStdString();
}

TEST_F(OutputTest, MaxBytesFindsTheHighestQualityThatFits) {
    const QRegularExpression said(u"wide.jpg: note: quality (\\d+) to fit 30k"_s);
    for (const char* format : {"jpg", "webp", "avif"}) {
        const QString ext = QLatin1String(format);
        const QString out = out_ + u'-' + ext;
        const test::BatchResult r =
            test::RunVeldaBatch({u"--settings"_s, ini_, u"--format"_s, ext, u"--quality=90"_s,
                                 u"--set=MaxBytes=30k"_s, in_, out, u"wide.jpg"_s});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QRegularExpressionMatch m = said.match(r.out);
        ASSERT_TRUE(m.hasMatch()) << format << ": " << r.out.toStdString();
        const int quality = m.captured(1).toInt();
        ASSERT_GT(quality, 1) << format;
        ASSERT_LT(quality, 90) << format;
        const qint64 size = QFileInfo(out + u"/wide."_s + ext).size();
        EXPECT_LE(size, 30000) << format;
        EXPECT_GT(size, 0) << format;
        // One step up would not have fitted; the metadata is counted in.
        const QString up = out_ + u"-up-"_s + ext;
        Batch({u"--format"_s, ext, u"--quality="_s + QString::number(quality + 1), in_, up,
               u"wide.jpg"_s});
        EXPECT_GT(QFileInfo(up + u"/wide."_s + ext).size(), 30000) << format;
        EXPECT_TRUE(
            test::Run(u"exiv2"_s, {u"-pa"_s, out + u"/wide."_s + ext}).contains(u"Ann Author"_s))
            << format;
    }
    // Blocks kept at their quality that do not fit are encoded anew; a
    // size no quality reaches is written at quality 1 and said so.
    test::BatchResult r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--lossless"_s,
                                               u"--set=MaxBytes=60k"_s, in_, out_, u"wide.jpg"_s});
    EXPECT_TRUE(r.out.contains(u"wide.jpg: note: wholly re-encoded (over MaxBytes); quality"_s))
        << r.out.toStdString();
    EXPECT_LE(QFileInfo(out_ + u"/wide.jpg"_s).size(), 60000);
    r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--set=MaxBytes=1k"_s, u"--existing=replace"_s,
                             in_, out_, u"wide.jpg"_s});
    EXPECT_TRUE(r.out.contains(u"bytes at quality 1, over 1k"_s)) << r.out.toStdString();
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Size(out_ + u"/wide.jpg"_s), u"1200x800"_s);
    for (const char* bad : {"MaxBytes=12q", "MaxBytes=10", "MaxBytes=-5k"}) {
        r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--set"_s, QLatin1String(bad), in_,
                                 out_ + u"-bad"_s, u"wide.jpg"_s});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_TRUE(r.err.contains(u"MaxBytes"_s)) << bad;
    }
    EXPECT_FALSE(QDir(out_ + u"-bad"_s).exists());
}

TEST_F(OutputTest, MetadataPolicyKeepsWhatItSaysAndWritesTheRights) {
    // A photo tagged as a camera and a photographer's tools tag them.
    const QString tagged = in_ + u"/tagged.jpg"_s;
    QFile::copy(in_ + u"/wide.jpg"_s, tagged);
    test::Run(u"exiftool"_s,
              {u"-q"_s, u"-overwrite_original"_s, u"-Make=Camco"_s, u"-Model=C-1"_s,
               u"-SerialNumber=SN12345"_s, u"-LensModel=Zoom 24-70"_s, u"-ExposureTime=1/250"_s,
               u"-FNumber=8"_s, u"-DateTimeOriginal=2021:06:15 10:00:00"_s, u"-GPSLatitude=48.85"_s,
               u"-GPSLatitudeRef=N"_s, u"-City=Paris"_s, u"-XMP-photoshop:City=Paris"_s,
               u"-Copyright=Old Owner"_s, u"-By-line=Old Owner"_s, u"-CopyrightNotice=Old Owner"_s,
               u"-XMP-aux:SerialNumber=AUX999"_s, u"-Artist=Ann Author"_s, tagged});
    const auto keys = [&](const QString& file) {
        QStringList out;
        for (const QString& line : test::Run(u"exiv2"_s, {u"-pa"_s, file}).split(u'\n')) {
            if (!line.isEmpty()) out.append(line.section(u' ', 0, 0));
        }
        return out;
    };
    const QStringList camera = {
        u"Exif.Image.Make"_s,      u"Exif.Image.Model"_s,        u"Exif.Photo.BodySerialNumber"_s,
        u"Exif.Photo.LensModel"_s, u"Exif.Photo.ExposureTime"_s, u"Exif.Photo.FNumber"_s,
        u"Xmp.aux.SerialNumber"_s};
    const QStringList location = {u"Exif.GPSInfo.GPSLatitude"_s, u"Iptc.Application2.City"_s,
                                  u"Xmp.photoshop.City"_s};
    const QStringList rights = {u"Exif.Image.Artist"_s, u"Exif.Image.Copyright"_s,
                                u"Iptc.Application2.Byline"_s, u"Iptc.Application2.Copyright"_s};
    const QString date = u"Exif.Photo.DateTimeOriginal"_s;
    const QStringList all = keys(tagged);
    for (const QString& k : camera + location + rights + QStringList{date})
        ASSERT_TRUE(all.contains(k)) << k.toStdString();

    const struct {
        const char* set;
        QStringList kept, dropped;
    } cases[] = {
        {"Metadata=all", camera + location + rights + QStringList{date}, {}},
        {"Metadata=nocamera", location + rights + QStringList{date}, camera},
        {"Metadata=copyright", rights, camera + location + QStringList{date}},
        {"Metadata=none", {}, camera + location + rights + QStringList{date}},
        {"RemoveLocation=True", camera + rights + QStringList{date}, location},
    };
    for (const auto& c : cases) {
        const QString out = out_ + u'-' + QString::fromLatin1(c.set).section(u'=', 1);
        Batch({u"--set"_s, QLatin1String(c.set), in_, out, u"tagged.jpg"_s});
        const QStringList got = keys(out + u"/tagged.jpg"_s);
        for (const QString& k : c.kept)
            EXPECT_TRUE(got.contains(k)) << c.set << " lost " << k.toStdString();
        for (const QString& k : c.dropped)
            EXPECT_FALSE(got.contains(k)) << c.set << " kept " << k.toStdString();
    }

    // The rights, their tokens filled in, written over the old ones in
    // every format that holds them; the source's own are left alone.
    for (const char* format : {"jpg", "png", "webp", "avif"}) {
        const QString out = out_ + u"-rights-"_s + QLatin1String(format);
        Batch({u"--format"_s, QLatin1String(format), u"--set=Creator=Ann Author"_s,
               u"--set=Copyright=\u00a9 {year} Ann Author"_s,
               u"--set=RightsUrl=https://ann.example/licence"_s, in_, out, u"tagged.jpg"_s});
        const QString file = out + u"/tagged."_s + QLatin1String(format);
        const QStringList tags =
            test::Run(u"exiftool"_s,
                      {u"-s3"_s, u"-XMP-dc:Creator"_s, u"-XMP-dc:Rights"_s,
                       u"-XMP-xmpRights:WebStatement"_s, u"-XMP-xmpRights:Marked"_s, file})
                .split(u'\n', Qt::SkipEmptyParts);
        EXPECT_EQ(tags, (QStringList{u"Ann Author"_s, u"\u00a9 2021 Ann Author"_s,
                                     u"https://ann.example/licence"_s, u"True"_s}))
            << format;
        if (QLatin1String(format) != "avif") {
            EXPECT_EQ(test::Run(u"exiftool"_s, {u"-s3"_s, u"-EXIF:Copyright"_s, file}).trimmed(),
                      u"\u00a9 2021 Ann Author"_s)
                << format;
        }
    }
    EXPECT_EQ(test::Run(u"exiftool"_s, {u"-s3"_s, u"-IPTC:CopyrightNotice"_s, u"-IPTC:By-line"_s,
                                        out_ + u"-rights-jpg/tagged.jpg"_s}),
              u"\u00a9 2021 Ann Author\nAnn Author\n"_s);
    EXPECT_EQ(test::Run(u"exiftool"_s, {u"-s3"_s, u"-Copyright"_s, tagged}).trimmed(),
              u"Old Owner"_s);
    // A source without any metadata gets the rights all the same, even
    // with the rest stripped.
    Batch({u"--strip-metadata"_s, u"--set=Creator=Ann Author"_s, in_, out_ + u"-bare"_s,
           u"board.png"_s});
    EXPECT_EQ(
        test::Run(u"exiftool"_s, {u"-s3"_s, u"-XMP-dc:Creator"_s, out_ + u"-bare/board.jpg"_s})
            .trimmed(),
        u"Ann Author"_s);
    const test::BatchResult r = test::RunVeldaBatch(
        {u"--settings"_s, ini_, u"--set=Metadata=camera"_s, in_, out_, u"wide.jpg"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"Metadata"_s)) << r.err.toStdString();
}

// The photo with a C2PA manifest as each container holds one: JPEG APP11
// JUMBF, PNG caBX, WebP C2PA chunk, a HEIF uuid box; and a JPEG whose
// APP11 is some other JUMBF.
const char kCredentials[] = R"(
import struct, sys, zlib, subprocess
from PIL import Image
folder = sys.argv[1]
photo = Image.open(folder + '/wide.jpg').convert('RGB').resize((300, 200))
jumd = b'jumd' + bytes.fromhex('6332706100110010800000aa00389b71') + b'\x03' + b'c2pa\0'
jumb = struct.pack('>I', 8 + 4 + len(jumd)) + b'jumb' + struct.pack('>I', 4 + len(jumd)) + jumd
def app11(box):
    body = b'JP\0\x01' + struct.pack('>I', 1) + box
    return b'\xff\xeb' + struct.pack('>H', len(body) + 2) + body
photo.save(folder + '/c.jpg', quality=90)
jpg = open(folder + '/c.jpg', 'rb').read()
open(folder + '/signed.jpg', 'wb').write(jpg[:2] + app11(jumb) + jpg[2:])
open(folder + '/other.jpg', 'wb').write(jpg[:2] + app11(jumb.replace(b'c2pa', b'xmpx')) + jpg[2:])
photo.save(folder + '/c.png')
png = open(folder + '/c.png', 'rb').read()
chunk = struct.pack('>I', len(jumb)) + b'caBX' + jumb + struct.pack('>I', zlib.crc32(b'caBX' + jumb))
open(folder + '/signed.png', 'wb').write(png[:33] + chunk + png[33:])
photo.save(folder + '/c.webp', quality=80)
webp = open(folder + '/c.webp', 'rb').read()
body = webp[12:] + b'C2PA' + struct.pack('<I', len(jumb)) + jumb
open(folder + '/signed.webp', 'wb').write(b'RIFF' + struct.pack('<I', 4 + len(body)) + b'WEBP' + body)
photo.save(folder + '/c.png')
subprocess.run(['heif-enc', '-q', '60', folder + '/c.png', '-o', folder + '/c.heic'], check=True,
               stdout=subprocess.DEVNULL)
heic = open(folder + '/c.heic', 'rb').read()
uuid = bytes.fromhex('d8fec3d61b0e483c92975828877ec481') + jumb
open(folder + '/signed.heic', 'wb').write(heic + struct.pack('>I', 8 + len(uuid)) + b'uuid' + uuid)
)";

TEST_F(OutputTest, ContentCredentialsAreNeverCarriedAndTheReportSaysSo) {
    const QString signedDir = dir_.filePath(u"signed"_s);
    QDir().mkpath(signedDir);
    QFile::copy(in_ + u"/wide.jpg"_s, signedDir + u"/wide.jpg"_s);
    test::Python(QString::fromLatin1(kCredentials), {signedDir});
    for (const QString& f : {u"wide.jpg"_s, u"c.jpg"_s, u"c.png"_s, u"c.webp"_s, u"c.heic"_s})
        QFile::remove(signedDir + u'/' + f);
    for (const QStringList& how : {QStringList{u"--format=jpg"_s}, QStringList{u"--lossless"_s},
                                   QStringList{u"--format=webp"_s}}) {
        const QString out = out_ + u'-' + how.join(u"").mid(2);
        const test::BatchResult r = test::RunVeldaBatch(
            QStringList{u"--settings"_s, ini_, u"-q"_s} + how + QStringList{signedDir, out});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        for (const char* name : {"signed.jpg", "signed.png", "signed.webp", "signed.heic"}) {
            EXPECT_TRUE(r.out.contains(signedDir + u'/' + QLatin1String(name) +
                                       u": note: content credentials removed: the picture was "
                                       u"changed"_s))
                << how.join(u' ').toStdString() << " " << name << ": " << r.out.toStdString();
        }
        EXPECT_FALSE(r.out.contains(u"other.jpg: note"_s)) << r.out.toStdString();
        for (const QString& f : QDir(out).entryList(QDir::Files)) {
            const QByteArray bytes = test::ReadAll(out + u'/' + f);
            EXPECT_FALSE(bytes.contains("c2pa") || bytes.contains("caBX"))
                << how.join(u' ').toStdString() << " " << f.toStdString();
        }
    }
}

// The photo in Adobe RGB's colours with that profile, and PIL ImageCms's
// (lcms2's) conversion of it back to sRGB.
const char kAdobeRgb[] = R"(
import io, sys
from PIL import Image, ImageCms
folder, photo = sys.argv[1], sys.argv[2]
adobe = ImageCms.getOpenProfile('/usr/share/color/icc/compatibleWithAdobeRGB1998.icc')
srgb = ImageCms.createProfile('sRGB')
im = Image.open(photo).convert('RGB').crop((0, 0, 600, 400))
wide = ImageCms.profileToProfile(im, srgb, adobe, renderingIntent=0)
wide.save(folder + '/in/adobe.png', icc_profile=adobe.tobytes())
wide.save(folder + '/in/adobe.jpg', quality=95, icc_profile=adobe.tobytes())
ImageCms.profileToProfile(wide, adobe, srgb, renderingIntent=0).save(folder + '/pil-srgb.png')
)";

// The name an iCCP chunk gives its profile.
const char kIccpName[] = R"(
import struct, sys
d = open(sys.argv[1], 'rb').read()
i = 8
while i < len(d):
    n, t = struct.unpack('>I', d[i:i + 4])[0], d[i + 4:i + 8]
    if t == b'iCCP':
        print(d[i + 8:i + 8 + n].split(b'\0')[0].decode('latin-1'))
    i += 12 + n
)";

TEST_F(OutputTest, ColourSpaceSrgbConvertsFromTheProfileAsLcmsDoesAndTagsTheResult) {
    const QString folder = dir_.filePath(u"colour"_s);
    QDir().mkpath(folder + u"/in"_s);
    test::Python(QString::fromLatin1(kAdobeRgb), {folder, in_ + u"/wide.jpg"_s});
    QFile::copy(in_ + u"/board.png"_s, folder + u"/in/board.png"_s);
    const QString srgb = folder + u"/srgb"_s, keep = folder + u"/keep"_s;
    Batch({u"--format=png"_s, u"--set=ColourSpace=srgb"_s, folder + u"/in"_s, srgb});
    Batch({u"--format=png"_s, folder + u"/in"_s, keep});
    const QImage reference =
        QImage(folder + u"/pil-srgb.png"_s).convertToFormat(QImage::Format_RGB32);
    const QImage converted = QImage(srgb + u"/adobe.png"_s).convertToFormat(QImage::Format_RGB32);
    const QImage kept = QImage(keep + u"/adobe.png"_s).convertToFormat(QImage::Format_RGB32);
    const double same = test::Psnr(converted, reference);
    EXPECT_GT(same, 45);
    EXPECT_LT(test::Psnr(kept, reference), same - 8);  // the wide colours as they were
    const auto profile = [](const QString& file) {
        return test::Run(u"exiftool"_s, {u"-s3"_s, u"-ICC_Profile:ProfileDescription"_s, file})
            .trimmed();
    };
    EXPECT_TRUE(profile(srgb + u"/adobe.png"_s).contains(u"sRGB"_s))
        << profile(srgb + u"/adobe.png"_s).toStdString();
    EXPECT_EQ(profile(keep + u"/adobe.png"_s), profile(folder + u"/in/adobe.png"_s));
    // The PNG profile chunk is named, as the format requires of it.
    EXPECT_EQ(test::Python(QString::fromLatin1(kIccpName), {srgb + u"/adobe.png"_s}),
              u"ICC Profile\n"_s);
    // A JPEG is decoded whole to be converted, even where its blocks were
    // to be kept; a picture without a profile is sRGB already.
    const test::BatchResult r =
        test::RunVeldaBatch({u"--settings"_s, ini_, u"--lossless"_s, u"--set=ColourSpace=srgb"_s,
                             folder + u"/in"_s, folder + u"/jpeg"_s, u"adobe.jpg"_s});
    EXPECT_TRUE(r.err.contains(u"adobe.jpg: wholly re-encoded (sRGB)"_s)) << r.err.toStdString();
    EXPECT_GT(
        test::Psnr(QImage(folder + u"/jpeg/adobe.jpg"_s).convertToFormat(QImage::Format_RGB32),
                   reference),
        35);
    EXPECT_EQ(test::ReadAll(srgb + u"/board.png"_s), test::ReadAll(keep + u"/board.png"_s));
    // The marks are drawn in sRGB after the conversion: their red stays red.
    Batch({u"--format=png"_s, u"--set=ColourSpace=srgb"_s, u"--set"_s,
           u"WaterMarkFile="_s + dir_.filePath(u"red.png"_s), u"--set=Anchor=TL"_s,
           folder + u"/in"_s, folder + u"/marked"_s, u"adobe.png"_s});
    EXPECT_EQ(QImage(folder + u"/marked/adobe.png"_s).pixel(20, 10), qRgb(255, 0, 0));
}

TEST_F(OutputTest, FurtherResultsEqualSeparateRunsAndTheSourceGoesLast) {
    const QStringList files = {u"wide.jpg"_s, u"glass.png"_s, u"board.jpg"_s};
    const QStringList marks = {u"--set"_s, u"WaterMarkFile="_s + dir_.filePath(u"red.png"_s),
                               u"--set=WatermarkSize=10"_s, u"--set=Anchor=BR"_s};
    Batch(marks +
          QStringList{u"--resize=long:600"_s, u"--set=Output2.Format=webp"_s,
                      u"--set=Output2.Resize=long:300"_s, u"--set=Output2.Folder=small"_s,
                      u"--set=Output3.Format=png"_s, u"--set=Output3.Folder=full/png"_s,
                      u"--set=Output3.NameTemplate={name}-full"_s, u"--set=Output4.Format=webp"_s,
                      u"--set=Output4.Folder=small"_s, u"--set=Output4.Resize=long:300"_s, in_,
                      out_} +
          files);
    const QString one = dir_.filePath(u"one"_s), two = dir_.filePath(u"two"_s),
                  three = dir_.filePath(u"three"_s);
    Batch(marks + QStringList{u"--resize=long:600"_s, in_, one} + files);
    Batch(marks + QStringList{u"--resize=long:300"_s, u"--format=webp"_s, in_, two} + files);
    Batch(marks + QStringList{u"--format=png"_s, u"--name={name}-full"_s, in_, three} + files);
    for (const QString& f : {u"wide"_s, u"glass"_s, u"board"_s}) {
        EXPECT_EQ(test::ReadAll(out_ + u'/' + f + u".jpg"_s),
                  test::ReadAll(one + u'/' + f + u".jpg"_s))
            << f.toStdString();
        EXPECT_EQ(test::ReadAll(out_ + u"/small/"_s + f + u".webp"_s),
                  test::ReadAll(two + u'/' + f + u".webp"_s))
            << f.toStdString();
        EXPECT_EQ(test::ReadAll(out_ + u"/full/png/"_s + f + u"-full.png"_s),
                  test::ReadAll(three + u'/' + f + u"-full.png"_s))
            << f.toStdString();
        // A fourth result in the same folder under the same name is
        // numbered, not written over the first.
        EXPECT_EQ(test::ReadAll(out_ + u"/small/"_s + f + u" (2).webp"_s),
                  test::ReadAll(two + u'/' + f + u".webp"_s))
            << f.toStdString();
    }
    EXPECT_EQ(Files(out_).size(), 12);
    // A dry run lists every result; a refused format is named.
    EXPECT_EQ(Batch({u"--dry-run"_s, u"--set=Output2.Format=png"_s, in_, out_ + u"-dry"_s,
                     u"wide.jpg"_s}),
              in_ + u"/wide.jpg -> "_s + out_ + u"-dry/wide.jpg\n"_s + in_ + u"/wide.jpg -> "_s +
                  out_ + u"-dry/wide.png\n2 files would be written.\n"_s);
    test::BatchResult r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--set=Output2.Format=wmf"_s,
                                               in_, out_ + u"-bad"_s, u"wide.jpg"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"Output2.Format=wmf"_s)) << r.err.toStdString();
    for (const char* bad : {"Output9.Format=png", "Output2.Folder=../up", "Output2.Folder=/abs"}) {
        r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--set"_s, QLatin1String(bad), in_,
                                 out_ + u"-bad"_s, u"wide.jpg"_s});
        EXPECT_EQ(r.code, 2) << bad;
    }
    EXPECT_FALSE(QDir(out_ + u"-bad"_s).exists());

    // A preset holds them too.
    QFile ini(ini_);
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("\n[Preset two]\nOutput2.Format=png\nOutput2.Folder=p\n");
    ini.close();
    Batch({u"--preset=two"_s, in_, out_ + u"-preset"_s, u"wide.jpg"_s});
    EXPECT_EQ(Files(out_ + u"-preset"_s), (QStringList{u"p/wide.png"_s, u"wide.jpg"_s}));
    // Run again, each result replaces its own (the policy's default), the
    // further one even where the first is new.
    QFile::remove(out_ + u"-preset/wide.jpg"_s);
    Batch({u"--preset=two"_s, in_, out_ + u"-preset"_s, u"wide.jpg"_s});
    EXPECT_EQ(Files(out_ + u"-preset"_s), (QStringList{u"p/wide.png"_s, u"wide.jpg"_s}));

    // A further result that cannot be written fails the file, and its
    // source, asked to be deleted, stays.
    const QString src = dir_.filePath(u"del"_s), dst = dir_.filePath(u"del-out"_s);
    QDir().mkpath(src);
    QDir().mkpath(dst);
    QFile::copy(in_ + u"/wide.jpg"_s, src + u"/wide.jpg"_s);
    test::WriteAll(dst + u"/blocked"_s, "a file where the folder should be");
    r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--delete-sources"_s,
                             u"--set=Output2.Folder=blocked"_s, src, dst, u"wide.jpg"_s});
    EXPECT_EQ(r.code, 1) << r.out.toStdString();
    EXPECT_TRUE(QFile::exists(src + u"/wide.jpg"_s));
    r = test::RunVeldaBatch({u"--settings"_s, ini_, u"--delete-sources"_s,
                             u"--set=Output2.Folder=ok"_s, src, dst, u"wide.jpg"_s});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(QFile::exists(dst + u"/ok/wide.jpg"_s));
    EXPECT_FALSE(QFile::exists(src + u"/wide.jpg"_s));
}

TEST_F(OutputTest, PngAndWebpReadBackWithTheirKindAndMetadata) {
    Batch({u"--format=png"_s, in_, out_, u"wide.jpg"_s, u"glass.png"_s});
    Batch({u"--format=png"_s, u"--depth=8"_s, in_, out_ + u"8"_s, u"wide.jpg"_s});
    Batch({u"--format=png"_s, u"--depth=4"_s, in_, out_ + u"4"_s, u"wide.jpg"_s});
    Batch({u"--format=webp"_s, u"--quality=80"_s, in_, out_, u"wide.jpg"_s});
    Batch({u"--format=webp"_s, u"--webp-lossless"_s, in_, out_ + u"L"_s, u"glass.png"_s});
    const QString format = QStringLiteral(
        "%m %wx%h %[channels] %[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]");
    EXPECT_EQ(test::Identify(out_ + u"/wide.png"_s, format), u"PNG 1200x800 srgb 2 8"_s);
    EXPECT_EQ(test::Identify(out_ + u"/glass.png"_s, format), u"PNG 200x100 srgba 6 8"_s);
    EXPECT_EQ(test::Identify(out_ + u"8/wide.png"_s, format), u"PNG 1200x800 srgb 3 8"_s);
    EXPECT_EQ(test::Identify(out_ + u"4/wide.png"_s, format), u"PNG 1200x800 srgb 3 4"_s);
    const QString lossy = test::Run(u"webpinfo"_s, {out_ + u"/wide.webp"_s});
    EXPECT_TRUE(lossy.contains(u"Format: Lossy"_s)) << lossy.toStdString();
    EXPECT_TRUE(lossy.contains(u"Chunk EXIF"_s) && lossy.contains(u"Chunk XMP"_s));
    EXPECT_TRUE(lossy.contains(u"No error detected"_s));
    const QString lossless = test::Run(u"webpinfo"_s, {out_ + u"L/glass.webp"_s});
    EXPECT_TRUE(lossless.contains(u"Format: Lossless"_s)) << lossless.toStdString();
    EXPECT_TRUE(lossless.contains(u"Alpha: 1"_s));
    // The photo's own metadata, made true for the new file.
    for (const QString& file : {out_ + u"/wide.png"_s, out_ + u"/wide.webp"_s}) {
        const QString tags = test::Run(u"exiv2"_s, {u"-pa"_s, file});
        EXPECT_TRUE(tags.contains(u"Ann Author"_s)) << file.toStdString();
        EXPECT_TRUE(tags.contains(u"Ann Creator"_s)) << file.toStdString();
    }
    // Decoded by libwebp's own tool, the lossless glass is the source.
    test::Run(u"dwebp"_s, {out_ + u"L/glass.webp"_s, u"-o"_s, dir_.filePath(u"glass-back.png"_s)});
    EXPECT_EQ(test::Identify(dir_.filePath(u"glass-back.png"_s), u"%[pixel:p{10,10}]"_s),
              test::Identify(in_ + u"/glass.png"_s, u"%[pixel:p{10,10}]"_s));
}

TEST_F(OutputTest, NamesTreesAndTheDryRunAgreeWithWhatIsWritten) {
    // Every token, and three results that want one name.
    Batch({u"--name={name}-{counter:3}-{date}-{width}x{height}"_s, u"--resize=long:600"_s, in_,
           out_, u"wide.jpg"_s, u"small.jpg"_s});
    EXPECT_EQ(Files(out_),
              (QStringList{
                  u"small-002-"_s +
                      QFileInfo(in_ + u"/small.jpg"_s).lastModified().date().toString(Qt::ISODate) +
                      u"-300x500.jpg"_s,
                  u"wide-001-2021-06-15-600x400.jpg"_s}));
    QDir(out_).removeRecursively();
    Batch({u"--name=same"_s, in_, out_, u"wide.jpg"_s, u"small.jpg"_s, u"board.png"_s});
    EXPECT_EQ(Files(out_), (QStringList{u"same (2).jpg"_s, u"same (3).jpg"_s, u"same.jpg"_s}));

    // A three-level tree, mirrored; the dry run's plan is what the real
    // run writes, with the existing-file policy at work.
    const QString tree = dir_.filePath(u"tree"_s);
    for (const char* sub : {"", "/a", "/a/b", "/c"}) {
        QDir().mkpath(tree + QString::fromLatin1(sub));
        QFile::copy(in_ + u"/small.jpg"_s, tree + QString::fromLatin1(sub) + u"/p.jpg"_s);
    }
    const QString mirror = dir_.filePath(u"mirror"_s);
    QDir().mkpath(mirror + u"/a"_s);
    test::WriteAll(mirror + u"/a/p.png"_s, "not ours");
    const QStringList run = {u"--recursive"_s,
                             u"--keep-tree"_s,
                             u"--format=png"_s,
                             u"--existing=rename"_s,
                             tree,
                             mirror};
    const QString plan = Batch(run + QStringList{u"--dry-run"_s});
    EXPECT_EQ(Files(mirror), QStringList{u"a/p.png"_s});  // nothing written
    Batch(run);
    const QStringList written = {u"a/b/p.png"_s, u"a/p (2).png"_s, u"a/p.png"_s, u"c/p.png"_s,
                                 u"p.png"_s};
    EXPECT_EQ(Files(mirror), written);
    QStringList planned;
    for (const QString& line : plan.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.contains(u" -> "_s))
            planned.append(QDir(mirror).relativeFilePath(line.section(u" -> "_s, 1)));
    }
    planned.append(u"a/p.png"_s);  // the file that was there
    planned.sort();
    EXPECT_EQ(planned, written);
    EXPECT_TRUE(plan.endsWith(u"4 files would be written.\n"_s)) << plan.toStdString();
}

TEST_F(OutputTest, PresetsRunAndLaterSettingsWin) {
    test::WriteAll(ini_,
                   "[MainVeldaDetails]\nMixValue=255\n\n[Preset web]\nResize=long:300\n"
                   "NameTemplate={name}-web\nJPEGValue=40\nNoSuchKey=1\n\n[Preset print]\n"
                   "KeepTree=True\n");
    EXPECT_EQ(Batch({u"--list-presets"_s}), u"web\nprint\n"_s);
    Batch({u"--preset=web"_s, in_, out_, u"wide.jpg"_s});
    EXPECT_EQ(Size(out_ + u"/wide-web.jpg"_s), u"300x200"_s);
    EXPECT_EQ(test::Identify(out_ + u"/wide-web.jpg"_s, u"%Q"_s), u"40"_s);
    Batch({u"--preset=web"_s, u"--set=Resize=width:150"_s, in_, out_, u"small.jpg"_s});
    EXPECT_EQ(Size(out_ + u"/small-web.jpg"_s), u"150x250"_s);
    Batch({u"--preset=none"_s, in_, out_}, 2);
}

}  // namespace
}  // namespace velda
