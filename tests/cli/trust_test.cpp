// velda-batch against folder layouts and planted files that could cost a
// photo: what lies outside the output folder, and every source, is never
// touched.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

using Result = test::BatchResult;

class TrustTest : public test::BatchFolders {
  protected:
    void SetUp() override {
        test::WriteAll(ini_,
                       "[MainVeldaDetails]\nText=MARK\nTextclr=0000FF\nTextPercent=False\n"
                       "tx=5\nty=5\nts=20\ntfont=DejaVu Sans\n");
    }
    // A small photo whose bytes tell it apart from a result.
    static void Photo(const QString& path, QRgb colour = qRgb(90, 120, 150)) {
        QDir().mkpath(QFileInfo(path).path());
        QImage img(120, 80, QImage::Format_RGB32);
        img.fill(colour);
        ASSERT_TRUE(img.save(path));
    }
    // Runs with a time limit: a run that blocks is killed and fails. With
    // addressBytes, the run may map no more than that.
    Result Run(const QStringList& args, int seconds = 60, rlim_t addressBytes = 0) {
        QProcess p;
        if (addressBytes)
            p.setChildProcessModifier([addressBytes] {
                const rlimit limit{addressBytes, addressBytes};
                ::setrlimit(RLIMIT_AS, &limit);
            });
        p.start(test::VeldaBatchProgram(), QStringList{u"--settings"_s, ini_} + args);
        if (!p.waitForFinished(seconds * 1000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "velda-batch did not finish";
        }
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    static QString ClaimName(const QString& name) {
        return u".velda-claim-"_s +
               QString::fromLatin1(
                   QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex());
    }
    QStringList Files(const QString& dir) const {
        return QDir(dir).entryList(QDir::Files, QDir::Name);
    }
};

TEST_F(TrustTest, PlantedClaimsAreDataThatNeverReachOutsideTheFolder) {
    for (const char* n : {"a", "b", "c", "d"})
        Photo(in_ + u'/' + QString::fromLatin1(n) + u".png"_s);
    const QString victims = dir_.filePath(u"victim"_s);
    QDir().mkpath(victims);
    test::WriteAll(victims + u"/x"_s, "precious");
    test::WriteAll(victims + u"/y"_s, "precious");
    QDir().mkpath(out_);
    // A link to a file elsewhere, a claim whose owner points out of the
    // folder, a pipe, and a link to an endless device.
    ASSERT_TRUE(QFile::link(victims + u"/y"_s, out_ + u'/' + ClaimName(u"a.jpg"_s)));
    test::WriteAll(out_ + u'/' + ClaimName(u"b.jpg"_s), "../victim/x\nb.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(out_ + u'/' + ClaimName(u"c.jpg"_s)).constData(), 0644),
              0);
    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, out_ + u'/' + ClaimName(u"d.jpg"_s)));

    const Result r = Run({in_, out_, u"-q"_s}, 30);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, u"4 files processed.\n"_s);
    // Each planted name counts as taken: the results take the next ones.
    EXPECT_EQ(Files(out_),
              (QStringList{u"a (2).jpg"_s, u"b (2).jpg"_s, u"c (2).jpg"_s, u"d (2).jpg"_s}));
    EXPECT_EQ(test::ReadAll(victims + u"/x"_s), "precious");
    EXPECT_EQ(test::ReadAll(victims + u"/y"_s), "precious");
    // What was planted is left alone; the run's own claims are gone.
    EXPECT_TRUE(QFileInfo(out_ + u'/' + ClaimName(u"a.jpg"_s)).isSymLink());
    EXPECT_EQ(test::ReadAll(out_ + u'/' + ClaimName(u"b.jpg"_s)), "../victim/x\nb.jpg");
    EXPECT_EQ(QDir(out_)
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                  .size(),
              8);
}

TEST_F(TrustTest, NoResultReplacesASourceWhateverFolderItLandsIn) {
    // The output folder is the parent of the tree, and the tree holds a
    // folder of its own name: photos/photos/p.jpg's result would be
    // photos/p.jpg, a source.
    const QString photos = dir_.filePath(u"photos"_s);
    Photo(photos + u"/p.jpg"_s, qRgb(10, 200, 10));
    Photo(photos + u"/photos/p.jpg"_s, qRgb(200, 10, 10));
    const QByteArray source = test::ReadAll(photos + u"/p.jpg"_s);
    Result r = Run({u"--recursive"_s, u"--keep-tree"_s, u"-q"_s, photos, dir_.path()});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(test::ReadAll(photos + u"/p.jpg"_s), source);
    EXPECT_TRUE(QFileInfo::exists(dir_.filePath(u"p.jpg"_s)));
    EXPECT_TRUE(QFileInfo::exists(photos + u"/p (2).jpg"_s));

    // The output folder inside the tree: its own pictures are the tree's.
    Photo(in_ + u"/x.jpg"_s);
    Photo(in_ + u"/inner/out/x.jpg"_s, qRgb(1, 2, 3));
    const QByteArray own = test::ReadAll(in_ + u"/inner/out/x.jpg"_s);
    r = Run({u"--recursive"_s, u"-q"_s, in_, in_ + u"/inner/out"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(test::ReadAll(in_ + u"/inner/out/x.jpg"_s), own);
    EXPECT_EQ(Files(in_ + u"/inner/out"_s), (QStringList{u"x (2).jpg"_s, u"x.jpg"_s}));
}

TEST_F(TrustTest, FoldersAreTakenAsNamedAndLinksInTheOutputAreNeverFollowed) {
    // "photos " and "photos" are two folders; the one named is the one used.
    const QString spaced = dir_.filePath(u"photos "_s), plain = dir_.filePath(u"photos"_s);
    Photo(spaced + u"/b.png"_s);
    Photo(plain + u"/a.png"_s);
    Result r = Run({u"--delete-sources"_s, u"-q"_s, spaced, out_});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(Files(out_), QStringList{u"b.jpg"_s});
    EXPECT_TRUE(QFileInfo::exists(plain + u"/a.png"_s));
    EXPECT_FALSE(QFileInfo::exists(spaced + u"/b.png"_s));

    // A subfolder of the output that is a link to elsewhere: its files fail
    // with the reason, and nothing lands where it points.
    const QString elsewhere = dir_.filePath(u"elsewhere"_s), kept = dir_.filePath(u"kept"_s);
    QDir().mkpath(elsewhere);
    QDir().mkpath(kept);
    Photo(in_ + u"/sub/s.png"_s);
    Photo(in_ + u"/top.png"_s);
    ASSERT_TRUE(QFile::link(elsewhere, kept + u"/sub"_s));
    r = Run({u"--recursive"_s, u"--keep-tree"_s, u"-q"_s, in_, kept});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Files(elsewhere).isEmpty());
    EXPECT_EQ(Files(kept), QStringList{u"top.jpg"_s});
    EXPECT_TRUE(r.out.contains(u"/sub/s.png: file could not be written: "_s + kept +
                               u"/sub is not a folder"_s))
        << r.out.toStdString();
}

TEST_F(TrustTest, EveryEndingOfEveryKindIsTakenAndDecodedByItsContents) {
    const QImage photo = test::MakePhoto(64, 48);
    // Written by other programs than ours, under every spelling.
    for (const auto& [n, format] : {std::pair{"a.jpeg", "JPEG"},
                                    {"b.JPE", "JPEG"},
                                    {"c.jfif", "JPEG"},
                                    {"d.tiff", "TIFF"},
                                    {"e.TIF", "TIFF"},
                                    {"f.Png", "PNG"},
                                    {"g.bmp", "BMP"}})
        ASSERT_TRUE(photo.save(in_ + u'/' + QString::fromLatin1(n), format));
    test::Run(u"cwebp"_s, {u"-quiet"_s, in_ + u"/f.Png"_s, u"-o"_s, in_ + u"/h.webp"_s});
    // A PNG named as a JPEG is read as the PNG it is.
    ASSERT_TRUE(photo.save(in_ + u"/misnamed.jpg"_s, "PNG"));
    const QStringList expected = {u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s, u"d.jpg"_s,       u"e.jpg"_s,
                                  u"f.jpg"_s, u"g.jpg"_s, u"h.jpg"_s, u"misnamed.jpg"_s};
    for (const bool tree : {false, true}) {
        QDir(out_).removeRecursively();
        const Result r =
            Run(tree ? QStringList{u"-r"_s, u"-q"_s, in_, out_} : QStringList{u"-q"_s, in_, out_});
        EXPECT_EQ(r.code, 0) << r.out.toStdString();
        EXPECT_EQ(Files(out_), expected);
    }
    // Each result holds its source's picture (the text aside).
    const QImage h(out_ + u"/h.jpg"_s);
    EXPECT_GT(test::Psnr(photo.copy(0, 30, 64, 18), h.copy(0, 30, 64, 18)), 28);

    // What we write, we read: a WebP result is itself a source.
    QDir().mkpath(dir_.filePath(u"w"_s));
    Result r = Run({u"--format"_s, u"webp"_s, u"-q"_s, in_, dir_.filePath(u"w"_s), u"g.bmp"_s});
    ASSERT_EQ(r.code, 0);
    r = Run({u"-q"_s, dir_.filePath(u"w"_s), dir_.filePath(u"w2"_s), u"g.webp"_s});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_EQ(test::Identify(dir_.filePath(u"w2/g.jpg"_s), u"%m %w %h"_s), u"JPEG 64 48"_s);
}

TEST_F(TrustTest, WhatCannotBeHonouredIsRefusedAndWhatIsDoneIsReported) {
    Photo(in_ + u"/a.png"_s);
    for (const QStringList& args : {QStringList{u"--format"_s, u"webp"_s, u"--depth"_s, u"4"_s},
                                    QStringList{u"--depth=8"_s},  // JPEG has no palette either
                                    QStringList{u"--webp-lossless"_s, u"--format"_s, u"png"_s},
                                    QStringList{u"--lossless"_s, u"--format"_s, u"tif"_s},
                                    QStringList{u"--name"_s, u"{name}-{counter:13}"_s}}) {
        const Result r = Run(args + QStringList{in_, out_});
        EXPECT_EQ(r.code, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(out_));

    // A remark is a report line, under --quiet too.
    Result r = Run({u"--set"_s, u"TextSize=1"_s, u"-q"_s, in_, out_});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, u"1 files processed.\n"_s + in_ +
                         u"/a.png: note: text left out: under 8 pixels at this picture's size\n"_s);

    // A result named with a leading dot would be hidden from every listing.
    r = Run({u"--name"_s, u".{name}"_s, u"-q"_s, in_, out_});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(QFileInfo::exists(out_ + u"/_.a.jpg"_s));

    // --help names every option the parser takes and every format.
    const QString help = Run({u"--help"_s}).out;
    for (const char* word :
         {"--resize", "--name", "--keep-tree", "--dry-run", "--webp-lossless", "--lossless",
          "--preset", "--list-presets", "--memory", "png", "webp", ".jpeg", ".tiff", ".webp",
          "WatermarkSizeOf", "TileAngle", "TextAutoTone", "{Exif.Image.Artist}"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(word))) << word;
    for (const QString& line : help.split(u'\n'))
        EXPECT_LE(line.size(), 80) << line.toStdString();
}

TEST_F(TrustTest, SettingsAndPresetsAreReadWholeOrRefused) {
    Photo(in_ + u"/a.png"_s);
    // A large settings file: its marks are used, never silently dropped.
    QByteArray big = test::ReadAll(ini_);
    big.prepend("; " + QByteArray(5 << 20, 'x') + "\n");
    test::WriteAll(ini_, big);
    Result r = Run({in_, out_, u"-q"_s});
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(r.err.contains(u"converting only"_s)) << r.err.toStdString();
    const QImage marked(out_ + u"/a.jpg"_s);
    int blue = 0;
    for (int y = 5; y < 25; ++y)
        for (int x = 5; x < 80; ++x)
            blue += qRed(marked.pixel(x, y)) > 180 && qBlue(marked.pixel(x, y)) < 120;
    EXPECT_GT(blue, 20);  // Textclr 0000FF is red

    // One over the limit is refused, naming its size.
    QFile f(ini_);
    ASSERT_TRUE(f.resize(qint64(65) << 20));
    r = Run({in_, out_, u"-q"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"68157440 bytes"_s)) << r.err.toStdString();
    EXPECT_EQ(Run({u"--list-presets"_s}).code, 2);

    // --list-presets of a file that is not there is an error, not silence.
    r = Run({u"--settings"_s, dir_.filePath(u"none.ini"_s), u"--list-presets"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"none.ini"_s));

    // A preset is found by the name it is listed under.
    test::WriteAll(ini_, "[MainVeldaDetails]\nText=X\n[Preset  spaced  ]\nText=Y\n");
    r = Run({u"--list-presets"_s});
    EXPECT_EQ(r.out, u"spaced\n"_s);
    EXPECT_EQ(Run({u"--preset"_s, u"spaced"_s, u"--dry-run"_s, in_, out_}).code, 0);
}

// A camera-like JPEG laid out as other programs may write it and Exiv2 does
// not expect: EXIF, a main XMP naming an extended packet of 114 KB whose two
// chunks come last first, and a colour profile of two chunks stored second
// first. The profile is written beside it, as NAME.icc.
const char* const kLayeredJpeg = R"(import sys, struct, hashlib
from PIL import Image
out = sys.argv[1]
im = Image.new('RGB', (64, 48), (90, 100, 110))
im.save(out, quality=90)
data = open(out, 'rb').read()
def seg(marker, payload):
    return bytes([0xFF, marker]) + struct.pack('>H', len(payload) + 2) + payload
# A profile of two chunks, stored second first.
icc = bytes((i * 7) & 0xFF for i in range(100000))
half = 60000
iccsegs = [seg(0xE2, b'ICC_PROFILE\0' + bytes([n, 2]) + part)
           for n, part in ((2, icc[half:]), (1, icc[:half]))]
# Extended XMP: a long description, in two chunks, the later one first.
desc = 'Ada Lovelace wrote the first program. ' * 3000
ext = ('<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
       '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:description><rdf:Alt>'
       '<rdf:li xml:lang="x-default">' + desc + '</rdf:li></rdf:Alt></dc:description></rdf:Description>'
       '</rdf:RDF></x:xmpmeta>').encode()
guid = hashlib.md5(ext).hexdigest().upper().encode()
main = ('<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
        '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" '
        'xmlns:xmpNote="http://ns.adobe.com/xmp/note/" xmlns:dc="http://purl.org/dc/elements/1.1/" '
        'xmpNote:HasExtendedXMP="' + guid.decode() + '"><dc:creator><rdf:Seq><rdf:li>Ada</rdf:li></rdf:Seq>'
        '</dc:creator></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>').encode()
xmpsegs = [seg(0xE1, b'http://ns.adobe.com/xap/1.0/\0' + main)]
step = 65000
chunks = [(o, ext[o:o + step]) for o in range(0, len(ext), step)]
for o, part in reversed(chunks):
    xmpsegs.append(seg(0xE1, b'http://ns.adobe.com/xmp/extension/\0' + guid +
                       struct.pack('>II', len(ext), o) + part))
exif = im.getexif(); exif[0x010f] = 'TestCam'
exifseg = [seg(0xE1, exif.tobytes())]
open(out, 'wb').write(data[:2] + b''.join(exifseg + xmpsegs + iccsegs) + data[2:])
open(out + '.icc', 'wb').write(icc)
)";

TEST_F(TrustTest, MetadataTravelsWholeInEveryFormatThatHoldsIt) {
    const QString photo = in_ + u"/p.jpg"_s;
    test::Python(QString::fromUtf8(kLayeredJpeg), {photo});
    for (const char* format : {"jpg", "png", "tif", "webp"}) {
        const Result r = Run({u"--format"_s, QString::fromLatin1(format), u"-q"_s, in_, out_});
        ASSERT_EQ(r.code, 0) << format << r.err.toStdString();
    }
    // PIL for the profile and EXIF (and that each file opens at all: a
    // WebP with a profile was once unreadable), exiftool for the XMP.
    const QString pil = test::Python(
        QStringLiteral("import sys\nfrom PIL import Image\n"
                       "icc = open(sys.argv[1], 'rb').read()\n"
                       "for f in sys.argv[2:]:\n"
                       "    im = Image.open(f)\n"
                       "    im.load()\n"
                       "    print(im.info.get('icc_profile') == icc, im.getexif().get(271))\n"),
        {photo + u".icc"_s, out_ + u"/p.jpg"_s, out_ + u"/p.png"_s, out_ + u"/p.tif"_s,
         out_ + u"/p.webp"_s});
    EXPECT_EQ(pil, u"True TestCam\n"_s.repeated(4));
    for (const char* format : {"jpg", "png", "tif", "webp"}) {
        const QString file = out_ + u"/p."_s + QString::fromLatin1(format);
        const QString description =
            test::Run(u"exiftool"_s, {u"-s3"_s, u"-XMP-dc:Description"_s, file}).trimmed();
        EXPECT_EQ(description.size(), 38 * 3000 - 1) << format;
    }
    // PNG's EXIF in an eXIf chunk, before the pixels, where readers look.
    EXPECT_EQ(test::Python(QStringLiteral("import sys, struct\n"
                                          "d = open(sys.argv[1], 'rb').read()\n"
                                          "i, names = 8, []\n"
                                          "while i < len(d):\n"
                                          "    n = struct.unpack('>I', d[i:i + 4])[0]\n"
                                          "    names.append(d[i + 4:i + 8].decode())\n"
                                          "    i += 12 + n\n"
                                          "print(' '.join(n for n in names if n != 'IDAT'))\n"),
                           {out_ + u"/p.png"_s}),
              u"IHDR iCCP iTXt eXIf IEND\n"_s);
}

TEST_F(TrustTest, DamagedFilesAreExplainedInTheReportAndNowhereElse) {
    // Written by PIL, then cut in half; a GIF of garbage for ImageMagick.
    test::Python(QStringLiteral("import sys\nfrom PIL import Image\n"
                                "im = Image.new('RGB', (300, 200), (90, 100, 110))\n"
                                "for ext in ('tif', 'png', 'gif', 'jpg'):\n"
                                "    p = sys.argv[1] + '/cut.' + ext\n"
                                "    im.save(p)\n"
                                "    data = open(p, 'rb').read()\n"
                                "    open(p, 'wb').write(data[:len(data) // 2])\n"),
                 {in_});
    test::WriteAll(in_ + u"/junk.gif"_s, "GIF89a\x10\x00\x10\x00\x80\x00\x00garbage-garbage");
    const Result r = Run({in_, out_});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.startsWith(u"5 files processed.\n5 files could not be converted:\n"_s))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(u"velda-batch"_s)) << r.out.toStdString();
    // Standard error holds our progress lines, and only them.
    for (const QString& line : r.err.split(u'\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith(u"velda-batch: "_s)) << line.toStdString();
}

TEST_F(TrustTest, TextFromAPhotosMetadataCostsWhatThePictureCanShow) {
    // 400,000 characters of EXIF Artist, drawn with outline and shadow.
    test::Python(QStringLiteral("import sys\nfrom PIL import Image\n"
                                "Image.new('RGB', (300, 200), (90, 100, 110))"
                                ".save(sys.argv[1], tiffinfo={315: 'Ada Lovelace ' * 31000})"),
                 {in_ + u"/artist.tif"_s});
    const QStringList args = {u"--set"_s,    u"Text=(c) {Exif.Image.Artist}"_s,
                              u"--set"_s,    u"TextOutline=2"_s,
                              u"--set"_s,    u"TextShadow=True"_s,
                              u"--set"_s,    u"TextSize=10"_s,
                              u"--memory"_s, u"100"_s,
                              u"-q"_s,       in_,
                              out_};
#ifdef __SANITIZE_ADDRESS__
    const Result r = Run(args);  // the sanitizer maps far more than any limit
#else
    const Result r = Run(args, 60, rlim_t(1) << 30);
#endif
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QImage result(out_ + u"/artist.jpg"_s);
    ASSERT_FALSE(result.isNull());
    int light = 0;  // the text's white fill across the picture
    for (int x = 0; x < 300; ++x)
        light += qGray(result.pixel(x, 12)) > 200;
    EXPECT_GT(light, 20);
}

}  // namespace
}  // namespace velda
