// velda-batch run as a user runs it, its outputs read back by ImageMagick.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <thread>

#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

using Result = test::BatchResult;

class VeldaBatchTest : public test::BatchFolders {
  protected:
    void SetUp() override {
        // A mid-grey picture: the white watermark and red text show on it.
        for (const char* name : {"a.png", "b.png", "c.png"}) {
            QImage img(200, 100, QImage::Format_RGB32);
            img.fill(qRgb(100, 100, 100));
            ASSERT_TRUE(img.save(in_ + u'/' + QString::fromLatin1(name)));
        }
        QImage wm(20, 10, QImage::Format_RGB32);
        wm.fill(qRgb(255, 255, 255));
        ASSERT_TRUE(wm.save(dir_.filePath(u"wm.png"_s)));
        test::WriteAll(
            ini_, "[MainVeldaDetails]\nWaterMarkFile=" + dir_.filePath(u"wm.png"_s).toUtf8() +
                      "\nMixValue=255\nwx=10\nwy=20\nText=HI\nTextclr=0000FF\nTextPercent=False\n"
                      "tx=100\nty=50\nts=30\ntfont=DejaVu Sans\nJPEGValue=90\n");
    }
    Result Run(QStringList args, bool withSettings = true) {
        if (withSettings) args = QStringList{u"--settings"_s, ini_} + args;
        return test::RunVeldaBatch(args);
    }
    static QString Program() { return test::VeldaBatchProgram(); }
    QStringList Outputs() const { return QDir(out_).entryList(QDir::Files, QDir::Name); }
};

TEST_F(VeldaBatchTest, ListModeWritesMarkedPicturesInTheChosenFormat) {
    QFile::copy(in_ + u"/a.png"_s, in_ + u"/noext"_s);
    const Result r = Run({in_, out_, u"c.png"_s, u"noext"_s, u"--quiet"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, u"2 files processed.\n"_s);
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_EQ(Outputs(), (QStringList{u"c.jpg"_s, u"noext.jpg"_s}));
    const QString c = out_ + u"/c.jpg"_s;
    EXPECT_EQ(test::Identify(c, u"%m %w %h %Q"_s), u"JPEG 200 100 90"_s);

    QImage img(c);
    const QRgb mark = img.pixel(20, 25), plain = img.pixel(5, 5);
    EXPECT_GT(qRed(mark), 240);  // the opaque white watermark at (10, 20)
    EXPECT_LT(qRed(plain), 110);
    // Red text somewhere in the box that starts at (100, 50), 30 high.
    int red = 0;
    for (int y = 50; y < 80; ++y) {
        for (int x = 100; x < 200; ++x)
            red += qRed(img.pixel(x, y)) > 200 && qBlue(img.pixel(x, y)) < 80;
    }
    EXPECT_GT(red, 20);

    const Result gif =
        Run({in_, out_, u"a.png"_s, u"--format"_s, u"gif"_s, u"--depth"_s, u"24"_s, u"-q"_s});
    EXPECT_EQ(gif.code, 0);
    EXPECT_EQ(test::Identify(out_ + u"/a.gif"_s, u"%m %w"_s), u"GIF 200"_s);
    EXPECT_EQ(Run({in_, out_, u"a.png"_s, u"--format=bmp"_s, u"--depth=4"_s, u"-q"_s}).code, 0);
    EXPECT_LE(test::Identify(out_ + u"/a.bmp"_s, u"%k"_s).toInt(), 16);
}

TEST_F(VeldaBatchTest, TreeModeFailuresAndDeletion) {
    QDir().mkpath(in_ + u"/sub"_s);
    QFile::copy(in_ + u"/a.png"_s, in_ + u"/sub/a.png"_s);
    test::WriteAll(in_ + u"/sub/broken.jpg"_s, "\xFF\xD8\xFF garbage");
    const Result r = Run({u"--recursive"_s, u"--delete-sources"_s, in_, out_});
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, u"5 files processed.\n1 files could not be converted:\n"_s + in_ +
                         QStringLiteral("/sub/broken.jpg: corrupt or truncated picture data: "
                                        "JPEG header is not valid\n"));
    EXPECT_EQ(Outputs(), (QStringList{u"a (2).jpg"_s, u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s}));
    // Sources written are gone; the one that failed stays.
    EXPECT_EQ(QDir(in_).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(in_ + u"/sub"_s).entryList(QDir::Files), QStringList{u"broken.jpg"_s});
    EXPECT_TRUE(r.err.contains(u"5/5"_s));  // one progress line per file when not a terminal
}

TEST_F(VeldaBatchTest, RefusalsExitTwoWithAReason) {
    const QString missingWm = dir_.filePath(u"bad.ini"_s);
    test::WriteAll(missingWm, "[MainVeldaDetails]\nWaterMarkFile=/no/such/logo.png\n");
    const QString empty = dir_.filePath(u"empty"_s);
    QDir().mkpath(empty);
    struct Case {
        QStringList args;
        const char* reason;
    };
    const QList<Case> cases = {
        {{in_, out_, u"sub/a.png"_s}, "plain name"},
        {{in_, out_, u"a.png"_s, u"--recursive"_s}, "cannot go together"},
        {{in_, out_, u"--set"_s, u"NoSuchKey=1"_s}, "unknown key"},
        {{in_, out_, u"--set"_s, u"MixValue=300"_s}, "out of range"},
        {{in_, out_, u"--format"_s, u"wmf"_s}, "--format"},
        {{in_, out_, u"--format"_s, u"heic"_s, u"--depth"_s, u"8"_s}, "heic has no palette form"},
        {{in_, out_, u"--format"_s, u"jxl"_s, u"--depth"_s, u"4"_s}, "jxl has no palette form"},
        {{in_, out_, u"--bogus"_s}, "unknown option"},
        {{in_, in_ + u"/"_s}, "Output directory must be different to the source"},
        {{empty, out_}, "Must select files to be compressed"},
        {{in_, dir_.filePath(u"x/y"_s)}, "Error creating output directory"},
        {{u"--settings"_s, missingWm, in_, out_},
         "Error loading watermark image (/no/such/logo.png), Check format/file is ok. Error - 1"},
        {{u"--settings"_s, dir_.filePath(u"none.ini"_s), in_, out_}, "settings file not found"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args, !c.args.contains(u"--settings"_s));
        EXPECT_EQ(r.code, 2) << c.reason;
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.reason))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(u"--help"_s)) << c.reason;
        EXPECT_TRUE(r.out.isEmpty()) << c.reason;
    }
    EXPECT_FALSE(QFileInfo::exists(out_));
    // The missing output directory itself is made.
    EXPECT_EQ(Run({in_, out_, u"-q"_s}).code, 0);
    EXPECT_EQ(Outputs().size(), 3);
}

TEST_F(VeldaBatchTest, InterruptFinishesFilesInProgressAndReportsTheCount) {
    const QImage big = test::MakePhoto(1500, 1000);
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(big.save(in_ + u"/big%1.png"_s.arg(i, 2, 10, QChar(u'0'))));
    // Ctrl+C, and the terminal closed under the run.
    for (const auto& [signal, code] : {std::pair{SIGINT, 130}, std::pair{SIGHUP, 129}}) {
        SCOPED_TRACE(signal);
        QDir(out_).removeRecursively();
        QProcess p;
        p.start(Program(), {u"--settings"_s, ini_, u"--jobs"_s, u"1"_s, in_, out_});
        ASSERT_TRUE(p.waitForStarted());
        // Wait for the first finished file, then interrupt.
        QString err;
        while (!err.contains(u"1/15"_s) && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            err += QString::fromUtf8(p.readAllStandardError());
        }
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(60000));
        err += QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), code);
        EXPECT_TRUE(err.contains(u"Watermarking system stopped"_s)) << err.toStdString();
        const int written = static_cast<int>(Outputs().size());
        EXPECT_GE(written, 1);
        EXPECT_LT(written, 15);
        // The report still says what was written, counting only what was.
        EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
                  u"Watermarking system stopped: %1 files written.\n"_s.arg(written));
        // Every file left is whole: no temporary, no claim, nothing unreadable.
        const QStringList all = QDir(out_).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(all.size(), written) << all.join(u' ').toStdString();
        for (const QString& f : Outputs()) {
            EXPECT_TRUE(f.endsWith(u".jpg"_s)) << f.toStdString();
            EXPECT_FALSE(QImage(out_ + u'/' + f).isNull()) << f.toStdString();
        }
    }
}

TEST_F(VeldaBatchTest, PhotoMetadataKeptUnlessStripped) {
    const QString photo = in_ + u"/photo.jpg"_s;
    ASSERT_TRUE(QImage(in_ + u"/a.png"_s).save(photo, "JPEG"));
    test::Run(u"exiv2"_s, {u"-Mset Exif.Image.Make TestCam"_s,
                           u"-Mset Exif.GPSInfo.GPSLatitudeRef N"_s, photo});
    auto tags = [this] {
        QProcess p;
        p.start(u"exiv2"_s, {u"-Pkv"_s, out_ + u"/photo.jpg"_s});
        p.waitForFinished();
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    ASSERT_EQ(Run({in_, out_, u"photo.jpg"_s, u"-q"_s}).code, 0);
    EXPECT_TRUE(tags().contains(u"TestCam"_s));
    ASSERT_EQ(Run({in_, out_, u"photo.jpg"_s, u"-q"_s, u"--strip-metadata"_s}).code, 0);
    EXPECT_TRUE(tags().trimmed().isEmpty());
    // The settings file's own choice, as the desktop program keeps it.
    QFile ini(ini_);
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("\n[Options]\nKeepMetadata=False\n");
    ini.close();
    ASSERT_EQ(Run({in_, out_, u"photo.jpg"_s, u"-q"_s}).code, 0);
    EXPECT_FALSE(tags().contains(u"GPS"_s));
}

TEST_F(VeldaBatchTest, LosslessKeepsTheSourcesBlocksAndSaysWhenItCannot) {
    // A real photo with a camera's tags, one turned CMYK, one arithmetic-coded,
    // and a PNG, which the normal path takes without remark.
    const QString photo = in_ + u"/photo.jpg"_s;
    test::Python(QStringLiteral("import sys\nfrom PIL import Image\n"
                                "Image.open(sys.argv[1]).crop((0, 0, 640, 480))"
                                ".save(sys.argv[2], quality=88)"),
                 {u"/usr/share/backgrounds/Bridge_by_Sander_Klootwijk.jpg"_s, photo});
    test::Run(u"exiv2"_s,
              {u"-Mset Exif.Image.Make TestCam"_s, u"-Mset Exif.Image.Orientation 6"_s, photo});
    test::Run(test::ConvertTool(), {photo, u"-colorspace"_s, u"CMYK"_s, in_ + u"/cmyk.jpg"_s});
    test::Run(u"jpegtran"_s, {u"-arithmetic"_s, u"-outfile"_s, in_ + u"/arith.jpg"_s, photo});
    const QString result = out_ + u"/photo.jpg"_s;

    const Result r = Run({in_, out_, u"--lossless"_s, u"--quality"_s, u"20"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    // The remarks are part of the report, in the walk's order.
    EXPECT_EQ(r.out, u"6 files processed.\n"_s + in_ +
                         u"/arith.jpg: note: wholly re-encoded "
                         u"(arithmetic)\n"_s +
                         in_ + u"/cmyk.jpg: note: wholly re-encoded (CMYK)\n"_s);
    EXPECT_TRUE(r.err.contains(u"in/cmyk.jpg: wholly re-encoded (CMYK)"_s)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"in/arith.jpg: wholly re-encoded (arithmetic)"_s));
    EXPECT_FALSE(r.err.contains(u"photo.jpg:"_s));
    EXPECT_FALSE(r.err.contains(u"a.png:"_s));
    EXPECT_EQ(test::Identify(out_ + u"/cmyk.jpg"_s, u"%m %Q"_s), u"JPEG 20"_s);
    // The photo keeps its quality tables and its turn, not --quality's.
    EXPECT_EQ(test::Identify(result, u"%Q %w %h %[EXIF:Orientation]"_s),
              test::Identify(photo, u"%Q %w %h %[EXIF:Orientation]"_s));
    const QByteArray first = test::ReadAll(result);
    QDir(out_).removeRecursively();

    // The same from the settings file, at any quality; stripping still
    // strips, all but the turn the kept blocks are seen upright by.
    QFile ini(ini_);
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("\n[Options]\nLosslessJpeg=True\n");
    ini.close();
    ASSERT_EQ(Run({in_, out_, u"photo.jpg"_s, u"-q"_s}).code, 0);
    EXPECT_EQ(test::ReadAll(result), first);
    ASSERT_EQ(Run({in_, out_, u"photo.jpg"_s, u"-q"_s, u"--strip-metadata"_s}).code, 0);
    QProcess tags;
    tags.start(u"exiv2"_s, {u"-Pkv"_s, result});
    tags.waitForFinished();
    const QStringList left =
        QString::fromUtf8(tags.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(left.size(), 1) << left.join(u'|').toStdString();
    EXPECT_TRUE(left[0].startsWith(u"Exif.Image.Orientation"_s)) << left[0].toStdString();
    EXPECT_EQ(test::Identify(result, u"%[EXIF:Orientation]"_s),
              test::Identify(photo, u"%[EXIF:Orientation]"_s));
    // Marks are sized on the photo as it is seen, turned upright: 3 % of
    // its 480 pixels is too small a watermark (of its stored 640, it is not).
    const Result small = Run({in_, out_, u"photo.jpg"_s, u"--set=WatermarkSize=3"_s});
    EXPECT_TRUE(small.err.contains(u"photo.jpg: watermark left out"_s)) << small.err.toStdString();
}

// A JPEG written as JPEG is marked a band of rows at a time: a 12-megapixel
// photo fits a budget far below its 48 MB of pixels, unless it is
// progressive, whose decoder holds every coefficient.
TEST_F(VeldaBatchTest, JpegToJpegNeedsOnlyTheRowsUnderTheMarks) {
    test::Python(QStringLiteral("import sys\nfrom PIL import Image\n"
                                "im = Image.open(sys.argv[1]).convert('RGB').resize((4000, 3000))\n"
                                "im.save(sys.argv[2] + '/big.jpg', quality=90)\n"
                                "im.save(sys.argv[2] + '/prog.jpg', quality=90, progressive=True)"),
                 {u"/usr/share/backgrounds/Bridge_by_Sander_Klootwijk.jpg"_s, in_});
    const Result r = Run({u"--memory=32"_s, u"-q"_s, in_, out_, u"big.jpg"_s, u"prog.jpg"_s});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.startsWith(u"2 files processed.\n1 files could not be converted:\n"_s + in_ +
                                 u"/prog.jpg: picture too large: needs about "_s));
    EXPECT_TRUE(r.out.endsWith(u"MiB, more than the run's memory budget of 32 MiB\n"_s));
    EXPECT_EQ(test::Identify(out_ + u"/big.jpg"_s, u"%m %w %h %Q"_s), u"JPEG 4000 3000 90"_s);
    EXPECT_GT(qRed(QImage(out_ + u"/big.jpg"_s).pixel(20, 25)), 240);  // the watermark
}

// Results never destroy a user's file, whatever runs share the folder.
TEST_F(VeldaBatchTest, RunsSharingAnOutputFolderNeverLoseAPhoto) {
    // Two runs at once, each deleting its ten sources, all of the same
    // names, into an output folder that neither has made yet.
    QStringList inputs;
    for (const char* name : {"one", "two"}) {
        const QString dir = dir_.filePath(QString::fromLatin1(name));
        QDir().mkpath(dir);
        for (int i = 0; i < 10; ++i)
            QFile::copy(in_ + u"/a.png"_s, dir + u"/p%1.png"_s.arg(i));
        inputs.append(dir);
    }
    QProcess first, second;
    const QStringList common = {u"--settings"_s, ini_, u"-q"_s, u"--delete-sources"_s};
    first.start(Program(), common + QStringList{inputs[0], out_});
    second.start(Program(), common + QStringList{inputs[1], out_});
    ASSERT_TRUE(first.waitForFinished(60000) && second.waitForFinished(60000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(Outputs().size(), 20);
    EXPECT_TRUE(QDir(inputs[0]).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(inputs[1]).entryList(QDir::Files).isEmpty());
    // No claim or temporary is left behind.
    EXPECT_EQ(QDir(out_).entryList(QDir::Files | QDir::Hidden).size(), 20);

    // One after the other: a later run treats the earlier results as
    // files it must not replace while it deletes its sources.
    for (int i = 0; i < 10; ++i)
        QFile::copy(in_ + u"/a.png"_s, inputs[0] + u"/p%1.png"_s.arg(i));
    EXPECT_EQ(Run({u"-q"_s, u"--delete-sources"_s, inputs[0], out_}).code, 0);
    EXPECT_EQ(Outputs().size(), 30);

    // An unrelated photo of the result's name: replaced by default, kept
    // when asked (rename), left and reported with skip.
    const QString other = out_ + u"/a.jpg"_s;
    test::WriteAll(other, "not ours");
    Result r = Run({u"-q"_s, u"--existing"_s, u"rename"_s, in_, out_, u"a.png"_s});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(test::ReadAll(other), QByteArray("not ours"));
    EXPECT_TRUE(QFile::exists(out_ + u"/a (2).jpg"_s));
    r = Run({u"-q"_s, u"--existing=skip"_s, in_, out_, u"a.png"_s, u"b.png"_s});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(test::ReadAll(other), QByteArray("not ours"));
    EXPECT_EQ(r.out, QStringLiteral("2 files processed.\n1 files skipped: their results' names "
                                    "were taken:\n") +
                         in_ + u"/a.png\n"_s);
    r = Run({u"-q"_s, in_, out_, u"a.png"_s});
    EXPECT_NE(test::ReadAll(other), QByteArray("not ours"));
}

// Hostile paths, odd names and unwelcome bytes: each fails or passes on its
// own, says why, and the run goes on.
TEST_F(VeldaBatchTest, HostileInputsFailFastAndReportsStayHonest) {
    // A pipe as watermark refuses the run at once rather than hanging.
    const QString fifo = dir_.filePath(u"logo.png"_s);
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Result r = Run({u"--set"_s, u"WaterMarkFile="_s + fifo, in_, out_});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(u"Error - 12"_s)) << r.err.toStdString();

    // A pipe among the inputs, and a name with a line break: the quiet
    // report lists each failure on one line with its reason.
    ASSERT_EQ(mkfifo(QFile::encodeName(in_ + u"/pipe.png"_s).constData(), 0600), 0);
    test::WriteAll(in_ + u"/evil\n3 files processed..png"_s, "junk");
    r = Run({u"-q"_s, in_, out_, u"pipe.png"_s, u"evil\n3 files processed..png"_s, u"a.png"_s});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, u"3 files processed.\n2 files could not be converted:\n"_s + in_ +
                         QStringLiteral("/pipe.png: not a regular file: not a regular file "
                                        "(a folder, pipe or device)\n\"") +
                         in_ +
                         QStringLiteral("/evil\\n3 files processed..png\": not a picture "
                                        "in a known format\n"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    // A settings file of another kind is named; one written on Windows in
    // its code page keeps its text and finds a watermark whose name is in
    // that code page on disk.
    const QString wrong = dir_.filePath(u"wrong.ini"_s);
    test::WriteAll(wrong, QByteArray("\xFF\xFE[\0M\0"));
    r = Run({u"--settings"_s, wrong, u"-q"_s, in_, out_, u"a.png"_s}, false);
    EXPECT_TRUE(r.err.contains(u"wrong.ini has no [MainVeldaDetails]"_s)) << r.err.toStdString();
    const QByteArray legacyName = QFile::encodeName(dir_.path()) + "/M\xFCller.png";
    QImage wm(20, 10, QImage::Format_RGB32);
    wm.fill(qRgb(0, 255, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(wm.save(&buffer, "PNG"));
    const int fd = ::open(legacyName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, png.constData(), static_cast<size_t>(png.size())), png.size());
    ::close(fd);
    const QString cp1252 = dir_.filePath(u"windows.ini"_s);
    test::WriteAll(cp1252, "[MainVeldaDetails]\r\nWaterMarkFile=" + legacyName +
                               "\r\nMixValue=255\r\nwx=0\r\nwy=0\r\nText=\xA9 2026 M\xFCller\r\n");
    r = Run({u"--settings"_s, cp1252, u"-q"_s, in_, out_, u"a.png"_s}, false);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_GT(qGreen(QImage(out_ + u"/a.jpg"_s).pixel(5, 5)), 200);

    // A closed progress reader does not end the run.
    QProcess p;
    p.start(Program(), {u"--settings"_s, ini_, in_, out_, u"a.png"_s, u"b.png"_s, u"c.png"_s});
    ASSERT_TRUE(p.waitForStarted());
    p.closeReadChannel(QProcess::StandardError);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
}

TEST_F(VeldaBatchTest, MarksSectionLeavesOldSettingsAloneAndTakesItsKeys) {
    // An old file, the same with an empty [Marks] section, and with every
    // key at its default: byte for byte the same results.
    const QByteArray old = test::ReadAll(ini_);
    QStringList bytes;
    const char* sections[] = {"", "\n[Marks]\nWatermarkSize=\nAnchor=\nTile=\n",
                              "\n[Marks]\nWatermarkSize=0\nWatermarkSizeOf=width\nTile=False\n"
                              "TileGap=50\nTileAngle=0\nTextSize=0\nTextOutline=0\n"
                              "TextShadow=False\nTextAutoTone=False\n"};
    for (const char* marks : sections) {
        test::WriteAll(ini_, old + marks);
        QDir(out_).removeRecursively();
        ASSERT_EQ(Run({u"-q"_s, u"--format"_s, u"bmp"_s, in_, out_, u"a.png"_s}).code, 0);
        bytes << QString::fromLatin1(test::ReadAll(out_ + u"/a.bmp"_s).toHex());
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    EXPECT_EQ(bytes[0], bytes[2]);

    // The file's keys and --set alike; a refused value stops the run.
    test::WriteAll(ini_, old + "[Marks]\nAnchor=BR\nMarginX=0\nMarginY=0\n");
    QDir(out_).removeRecursively();
    Result r = Run({u"-q"_s, u"--set"_s, u"text="_s, u"--set"_s, u"watermarksize=10"_s, in_, out_,
                    u"--format=bmp"_s, u"--jobs=2"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QImage img(out_ + u"/a.bmp"_s);
    EXPECT_GT(qRed(img.pixel(180, 90)), 240);  // 20 x 10 in the bottom-right corner
    EXPECT_LT(qRed(img.pixel(20, 25)), 110);   // wx, wy no longer count
    EXPECT_EQ(Run({u"--set"_s, u"Anchor=middle"_s, in_, out_}).code, 2);
}

}  // namespace
}  // namespace velda
