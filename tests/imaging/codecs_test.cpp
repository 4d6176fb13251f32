// Reading every format and depth we accept, writing every format and depth
// we offer, and refusing damaged files. Files are made and checked by
// ImageMagick's command-line tools, an independent reader.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "imaging/codec.h"
#include "imaging/lead.h"
#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

using test::ConvertTool;
using test::Identify;
using test::ReadAll;
using test::WriteAll;

class CodecsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = dir_.filePath(u"source.png"_s);
        ASSERT_TRUE(test::MakePhoto(97, 61).save(source_));
    }
    // convert source.png ARGS... CODER:OUT
    QString MakeAs(const QString& name, const QString& coder, const QStringList& args) {
        const QString out = dir_.filePath(name);
        QStringList all{source_};
        all += args;
        all += coder + u':' + out;
        test::Run(ConvertTool(), all);
        return out;
    }
    static Picbuf Load(const QString& path, Status* status = nullptr) {
        Picbuf p;
        p.FileName = path;
        const Status s = p.LoadFile();
        if (status) *status = s;
        return p;
    }
    static HeaderInfo Header(const QString& path) {
        HeaderInfo info;
        const QByteArray data = ReadAll(path);
        EXPECT_TRUE(ReadHeader(SniffFormat(data, path), data, kPhotoCdBase, &info).ok())
            << path.toStdString();
        return info;
    }

    QTemporaryDir dir_;
    QString source_;
};

struct ReadCase {
    const char* name;
    const char* coder;
    QStringList args;
    int depth;
};

TEST_F(CodecsTest, ReadsEveryFormatAtTheDepthItsFileHolds) {
    const QList<ReadCase> cases = {
        {"colour.jpg", "JPEG", {}, 24},
        {"grey.jpg", "JPEG", {"-colorspace", "Gray"}, 8},
        {"progressive.jpg", "JPEG", {"-interlace", "Plane", "-sampling-factor", "1x1"}, 24},
        {"cmyk.jpg", "JPEG", {"-colorspace", "CMYK"}, 24},
        {"mono.bmp", "BMP3", {"-type", "Bilevel"}, 1},
        {"sixteen.bmp", "BMP3", {"-colors", "16", "-type", "Palette"}, 4},
        {"palette.bmp", "BMP3", {"-colors", "200", "-type", "Palette"}, 8},
        {"rle.bmp", "BMP3", {"-colors", "200", "-type", "Palette", "-compress", "RLE"}, 8},
        {"true.bmp", "BMP3", {"-type", "TrueColor"}, 24},
        {"alpha.bmp", "BMP", {"-alpha", "set", "-channel", "A", "-fx", "0.5", "+channel"}, 32},
        {"palette.pcx", "PCX", {"-colors", "200", "-type", "Palette"}, 8},
        {"true.pcx", "PCX", {"-type", "TrueColor"}, 24},
        {"grey.png", "PNG", {"-colorspace", "Gray", "-define", "png:color-type=0"}, 8},
        {"palette.png", "PNG8", {}, 8},
        {"deep.png", "PNG48", {"-depth", "16"}, 24},
        {"alpha.png", "PNG32", {"-alpha", "set", "-channel", "A", "-fx", "0.5", "+channel"}, 32},
        {"lzw.tif", "TIFF", {"-compress", "LZW"}, 24},
        {"jpeg.tif", "TIFF", {"-compress", "JPEG"}, 24},
        {"palette.tif", "TIFF", {"-colors", "16", "-type", "Palette", "-depth", "4"}, 4},
        {"true.tga", "TGA", {}, 24},
        {"rle.tga", "TGA", {"-compress", "RLE"}, 24},
        {"mapped.tga", "TGA", {"-colors", "200", "-type", "Palette"}, 8},
        {"palette.gif", "GIF", {"-colors", "64"}, 8},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path =
            MakeAs(QString::fromLatin1(c.name), QString::fromLatin1(c.coder), c.args);
        Status s;
        const Picbuf p = Load(path, &s);
        ASSERT_TRUE(s.ok()) << s.text().toStdString();
        EXPECT_EQ(p.Xresolution(), 97);
        EXPECT_EQ(p.Yresolution(), 61);
        EXPECT_EQ(p.ColorDepth(), c.depth);
        EXPECT_EQ(p.image().format() == QImage::Format_Indexed8, c.depth <= 8);
    }
    // A Targa file with the version 2 footer reads the same as without.
    QByteArray tga = ReadAll(dir_.filePath(u"true.tga"_s));
    tga += QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 17) + QByteArray(1, '\0');
    WriteAll(dir_.filePath(u"footer.tga"_s), tga);
    EXPECT_EQ(Load(dir_.filePath(u"footer.tga"_s)).ColorDepth(), 24);
}

TEST_F(CodecsTest, GifTransparencyBecomesAlpha) {
    // A GIF whose palette has a transparent entry: raising it to true
    // colour turns that entry into alpha.
    const QString gif = MakeAs(
        u"t.gif"_s, u"GIF"_s,
        {"-colors", "32", "-fill", "red", "-draw", "rectangle 0,0 20,20", "-transparent", "red"});
    Lead lead;
    ASSERT_TRUE(lead.LoadImage(gif).ok());
    Picbuf p;
    p.PasteClipboard(lead.CopyToClipboard());
    EXPECT_EQ(p.ColorDepth(), 8);
    ASSERT_TRUE(p.IncreaseColors(24).ok());
    EXPECT_EQ(p.ColorDepth(), 32);
    EXPECT_EQ(qAlpha(p.image().pixel(5, 5)), 0);
    EXPECT_EQ(qAlpha(p.image().pixel(60, 40)), 255);
}

TEST_F(CodecsTest, PhotoCdAtEachResolutionMatchesImageMagicksSrgbConversion) {
    const QString pcd = MakeAs(u"c.pcd"_s, u"PCD"_s, {"-resize", "768x512!"});
    Lead lead;
    for (int r = 1; r <= 3; ++r) {
        SCOPED_TRACE(r);
        lead.PhotoCdResolution = r;
        ASSERT_TRUE(lead.LoadImage(pcd).ok());
        const Picture clip = lead.CopyToClipboard();
        EXPECT_EQ(clip.image.width(), 96 << r);
        EXPECT_EQ(clip.depth, 24);
        const QImage ours = clip.image.convertToFormat(QImage::Format_RGB32);
        const QString ref = dir_.filePath(u"ref%1.png"_s.arg(r));
        test::Run(ConvertTool(), {pcd + u"[%1]"_s.arg(r), u"-colorspace"_s, u"sRGB"_s, ref});
        const QImage theirs = QImage(ref).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(ours.size(), theirs.size());
        double diff[3] = {0, 0, 0};
        for (int y = 0; y < ours.height(); ++y) {
            for (int x = 0; x < ours.width(); ++x) {
                const QRgb a = ours.pixel(x, y), b = theirs.pixel(x, y);
                diff[0] += std::abs(qRed(a) - qRed(b));
                diff[1] += std::abs(qGreen(a) - qGreen(b));
                diff[2] += std::abs(qBlue(a) - qBlue(b));
            }
        }
        for (double d : diff)
            EXPECT_LT(d / (ours.width() * ours.height()), 3.0);
    }
}

// Targa files as other programs write them: PIL in both origins, run-length
// coded or not; and ours read back by PIL.
TEST_F(CodecsTest, TargaRowOrderFollowsTheOriginBitsBothWays) {
    const QString script = QStringLiteral(
        "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
        "for mode in ('RGB', 'P', 'L'):\n"
        "  src = im.convert(mode) if mode != 'P' else im.convert('P', palette=Image.ADAPTIVE)\n"
        "  for o in (-1, 1):\n"
        "    for rle in (False, True):\n"
        "      src.save('%s/pil-%s-%d-%d.tga' % (sys.argv[2], mode, o, rle), orientation=o, "
        "rle=rle)\n"
        "      src.convert('RGB').save('%s/pil-%s.png' % (sys.argv[2], mode))\n");
    test::Python(script, {source_, dir_.path()});
    for (const char* mode : {"RGB", "P", "L"}) {
        const QImage expected = QImage(dir_.filePath(u"pil-%1.png"_s.arg(QLatin1String(mode))))
                                    .convertToFormat(QImage::Format_RGB32);
        for (int o : {-1, 1}) {
            for (int rle : {0, 1}) {
                const QString name = u"pil-%1-%2-%3.tga"_s.arg(QLatin1String(mode)).arg(o).arg(rle);
                SCOPED_TRACE(name.toStdString());
                const Picbuf p = Load(dir_.filePath(name));
                ASSERT_TRUE(p.HasPicture());
                EXPECT_EQ(p.image().convertToFormat(QImage::Format_RGB32), expected);
            }
        }
    }

    // What we write, PIL reads the right way up, at every depth.
    for (int depth : {24, 8, 4}) {
        SCOPED_TRACE(depth);
        Picbuf p = Load(source_);
        if (depth < 24) {
            ASSERT_TRUE(p.ReduceColors(depth == 8 ? 256 : 16).ok());
        }
        p.ImageFormat = Format(FormatId::Targa).code;
        p.FileName = dir_.filePath(u"ours.tga"_s);
        ASSERT_TRUE(p.Store().ok());
        test::Python(QStringLiteral("import sys\nfrom PIL import Image\n"
                                    "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])"),
                     {p.FileName, dir_.filePath(u"back.png"_s)});
        EXPECT_EQ(QImage(dir_.filePath(u"back.png"_s)).convertToFormat(QImage::Format_RGB32),
                  p.image().convertToFormat(QImage::Format_RGB32));
    }
}

struct WriteCase {
    int format;
    int depth;
    QString identifyNames;  // what ImageMagick calls it, either of two
    int headerDepth;
};

TEST_F(CodecsTest, WritesEveryFormatAndDepthThatAnIndependentReaderAccepts) {
    // Every format the table writes, at every depth it writes. This
    // ImageMagick reads no JPEG XL and calls AVIF HEIC: those three are read
    // by their reference decoders (modern_formats_test).
    QList<WriteCase> cases;
    for (const FormatInfo* f : Formats()) {
        if (f->id == FormatId::Heic || f->id == FormatId::Avif || f->id == FormatId::Jxl) continue;
        for (const int depth : {24, 8, 4}) {
            if (!f->writable() || !f->writes(depth)) continue;
            cases.append({f->code, depth,
                          QString::fromLatin1(f->title).toUpper() + u' ' +
                              QString::fromLatin1(f->name).toUpper(),
                          // GIF's colour table always has 256 entries.
                          f->id == FormatId::Gif ? 8 : depth});
        }
    }
    EXPECT_GE(cases.size(), 18);
    for (const WriteCase& c : cases) {
        const QString name =
            u"out_%1_%2%3"_s.arg(c.format).arg(c.depth).arg(FormatWithCode(c.format)->extension());
        SCOPED_TRACE(name.toStdString());
        Picbuf p = Load(source_);
        if (c.depth == 8) {
            ASSERT_TRUE(p.ReduceColors(256).ok());
        } else if (c.depth == 4) {
            ASSERT_TRUE(p.ReduceColors(16).ok());
        }
        p.FileName = dir_.filePath(name);
        p.ImageFormat = c.format;
        p.WriteCompression = 40;
        const Status s = p.Store();
        ASSERT_TRUE(s.ok()) << s.text().toStdString();

        const QStringList id = Identify(p.FileName, u"%m %w %h %k"_s).split(u' ');
        ASSERT_EQ(id.size(), 4);
        EXPECT_TRUE(id[0].startsWith(c.identifyNames.section(u' ', 0, 0)) ||
                    id[0].startsWith(c.identifyNames.section(u' ', 1, 1)))
            << id[0].toStdString();
        EXPECT_EQ(id[1], u"97"_s);
        EXPECT_EQ(id[2], u"61"_s);
        const int colours = id[3].toInt();
        EXPECT_LE(colours, 1 << std::min(c.depth, 20));
        if (c.depth == 24) {
            EXPECT_GT(colours, 256);
        }
        EXPECT_EQ(Header(p.FileName).depth, c.headerDepth);

        // Our own reader brings it back at the same size and depth.
        const Picbuf back = Load(p.FileName);
        EXPECT_EQ(back.Xresolution(), 97);
        EXPECT_EQ(back.ColorDepth(), c.format == Format(FormatId::Gif).code ? 8 : c.headerDepth);
    }
    const QByteArray bmp4 = ReadAll(dir_.filePath(u"out_3_4.bmp"_s));
    EXPECT_EQ(qFromLittleEndian<quint16>(bmp4.constData() + 28), 4);
    const QByteArray pcx4 = ReadAll(dir_.filePath(u"out_6_4.pcx"_s));
    EXPECT_EQ(static_cast<int>(pcx4[3]) * static_cast<int>(pcx4[65]), 4);
    EXPECT_EQ(Identify(dir_.filePath(u"out_7_24.jpg"_s), u"%Q"_s), u"40"_s);
}

TEST_F(CodecsTest, WritersWithoutAlphaFlattenOntoWhiteAndJpegIsAlwaysColour) {
    QImage clear(8, 8, QImage::Format_ARGB32);
    clear.fill(qRgba(0, 0, 0, 0));
    Picbuf p;
    p.PasteClipboard(Picture{clear, 32, QString()});
    p.FileName = dir_.filePath(u"clear.bmp"_s);
    p.ImageFormat = Format(FormatId::Bmp).code;
    ASSERT_TRUE(p.Store().ok());
    EXPECT_EQ(Load(p.FileName).image().pixel(3, 3), qRgb(255, 255, 255));

    Picbuf grey = Load(MakeAs(u"g.jpg"_s, u"JPEG"_s, {"-colorspace", "Gray"}));
    grey.FileName = dir_.filePath(u"grey_out.jpg"_s);
    grey.ImageFormat = Format(FormatId::Jpeg).code;
    grey.WriteCompression = 0;  // means the lowest quality, 1
    ASSERT_TRUE(grey.Store().ok());
    EXPECT_EQ(Identify(grey.FileName, u"%[channels] %Q"_s), u"srgb 1"_s);
}

TEST_F(CodecsTest, BadFilesFailThatCallAndLeaveTheBufferAlone) {
    // One good file of every readable format, then damaged copies of it.
    const QStringList good = {
        MakeAs(u"a.jpg"_s, u"JPEG"_s, {}),
        MakeAs(u"a.bmp"_s, u"BMP3"_s, {"-type", "TrueColor"}),
        MakeAs(u"a.pcx"_s, u"PCX"_s, {}),
        MakeAs(u"a.png"_s, u"PNG"_s, {}),
        MakeAs(u"a.tif"_s, u"TIFF"_s, {"-compress", "LZW"}),
        MakeAs(u"a.tga"_s, u"TGA"_s, {"-compress", "RLE"}),
        MakeAs(u"a.gif"_s, u"GIF"_s, {}),
        MakeAs(u"a.pcd"_s, u"PCD"_s, {}),
    };
    Picbuf keep = Load(source_);
    const QImage before = keep.image();
    for (const QString& path : good) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray data = ReadAll(path);
        ASSERT_FALSE(data.isEmpty());
        const QString suffix = path.mid(path.lastIndexOf(u'.'));
        struct Damage {
            const char* what;
            QByteArray bytes;
        };
        QByteArray zeroed = data;
        for (qsizetype i = data.size() / 3; i < data.size(); ++i)
            zeroed[i] = '\0';
        const QList<Damage> damages = {
            {"truncated", data.left(data.size() / 2)},
            {"header only", data.left(20)},
            {"tail zeroed", zeroed},
        };
        for (const Damage& d : damages) {
            SCOPED_TRACE(d.what);
            const QString bad = dir_.filePath(u"bad"_s + suffix);
            WriteAll(bad, d.bytes);
            keep.FileName = bad;
            const Status s = keep.LoadFile();
            // Zeroing the tail of a GIF or an uncompressed file leaves a
            // picture of the right size, which loads; everything else fails.
            if (s.ok()) {
                EXPECT_STREQ(d.what, "tail zeroed");
                keep.PasteClipboard(Picture{before, 24, QString()});
                continue;
            }
            EXPECT_NE(s.number(), 0);
            EXPECT_FALSE(s.text().isEmpty());
            EXPECT_EQ(keep.image(), before);
        }
    }

    auto expectError = [&](const QString& name, const QByteArray& bytes, ErrorCode code) {
        const QString path = dir_.filePath(name);
        WriteAll(path, bytes);
        Status s;
        Load(path, &s);
        EXPECT_EQ(s.code(), code) << name.toStdString() << ": " << s.text().toStdString();
    };
    expectError(u"text.jpg"_s, "this is not a picture", ErrorCode::NotAPicture);
    expectError(u"empty.png"_s, QByteArray(), ErrorCode::NotAPicture);
    expectError(u"fractal.fif"_s, QByteArray(64, 'F'), ErrorCode::UnsupportedFormat);
    Status missing;
    Load(dir_.filePath(u"nothing-here.jpg"_s), &missing);
    EXPECT_EQ(missing.code(), ErrorCode::FileNotFound);

    // Headers that declare 60000 x 60000 pixels are refused before decoding.
    QByteArray bmp = ReadAll(good[1]);
    qToLittleEndian<qint32>(60000, bmp.data() + 18);
    qToLittleEndian<qint32>(60000, bmp.data() + 22);
    expectError(u"huge.bmp"_s, bmp, ErrorCode::TooLarge);
    QByteArray jpg = ReadAll(good[0]);
    const qsizetype sof = jpg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    qToBigEndian<quint16>(60000, jpg.data() + sof + 5);
    qToBigEndian<quint16>(60000, jpg.data() + sof + 7);
    expectError(u"huge.jpg"_s, jpg, ErrorCode::TooLarge);
}

// Paths that are not regular files, files that declare pictures their data
// cannot fill, and progressive scan bombs fail at once with a reason.
TEST_F(CodecsTest, HostileFilesFailFastWithAReason) {
    auto loadStatus = [&](const QString& path) {
        Status s;
        Load(path, &s);
        return s;
    };
    const QString fifo = dir_.filePath(u"pipe.jpg"_s);
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(loadStatus(fifo).code(), ErrorCode::NotRegularFile);
    const QString zero = dir_.filePath(u"zero.bmp"_s);
    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, zero));
    EXPECT_EQ(loadStatus(zero).code(), ErrorCode::NotRegularFile);
    EXPECT_EQ(loadStatus(dir_.path()).code(), ErrorCode::NotRegularFile);

    // A JPEG cut inside its header, and a BMP whose pixels are cut short,
    // say that they are damaged.
    const QByteArray jpg = ReadAll(MakeAs(u"p.jpg"_s, u"JPEG"_s, {"-interlace", "Plane"}));
    WriteAll(dir_.filePath(u"cut.jpg"_s), jpg.left(40));
    Status s = loadStatus(dir_.filePath(u"cut.jpg"_s));
    EXPECT_EQ(s.code(), ErrorCode::CorruptData) << s.text().toStdString();
    const QByteArray bmp = ReadAll(MakeAs(u"p.bmp"_s, u"BMP3"_s, {"-type", "TrueColor"}));
    WriteAll(dir_.filePath(u"cut.bmp"_s), bmp.left(bmp.size() - 100));
    s = loadStatus(dir_.filePath(u"cut.bmp"_s));
    EXPECT_EQ(s.code(), ErrorCode::CorruptData);
    EXPECT_TRUE(s.text().contains(u"picture data is cut short"_s)) << s.text().toStdString();

    const QByteArray tif = ReadAll(MakeAs(u"p.tif"_s, u"TIFF"_s, {}));
    WriteAll(dir_.filePath(u"cut.tif"_s), tif.left(tif.size() / 2));
    s = loadStatus(dir_.filePath(u"cut.tif"_s));
    EXPECT_EQ(s.code(), ErrorCode::CorruptData);
    EXPECT_FALSE(s.text().contains(u"header is cut short"_s)) << s.text().toStdString();

    // 400 copies of the last scan of a progressive JPEG: refused unread.
    const qsizetype lastScan = jpg.lastIndexOf("\xFF\xDA");
    const qsizetype eoi = jpg.lastIndexOf("\xFF\xD9");
    ASSERT_GT(eoi, lastScan);
    QByteArray bomb = jpg.left(eoi);
    for (int i = 0; i < 400; ++i)
        bomb += jpg.mid(lastScan, eoi - lastScan);
    bomb += "\xFF\xD9";
    WriteAll(dir_.filePath(u"bomb.jpg"_s), bomb);
    s = loadStatus(dir_.filePath(u"bomb.jpg"_s));
    EXPECT_EQ(s.code(), ErrorCode::CorruptData);
    EXPECT_TRUE(s.text().contains(u"scans"_s)) << s.text().toStdString();
    EXPECT_TRUE(Load(dir_.filePath(u"p.jpg"_s)).HasPicture());

    // ImageMagick's own words are turned into ours.
    const QByteArray pcx = ReadAll(MakeAs(u"p.pcx"_s, u"PCX"_s, {}));
    WriteAll(dir_.filePath(u"cut.pcx"_s), pcx.left(pcx.size() * 3 / 4));
    s = loadStatus(dir_.filePath(u"cut.pcx"_s));
    EXPECT_TRUE(s.text().startsWith(u"corrupt or truncated picture data"_s))
        << s.text().toStdString();
    EXPECT_FALSE(s.text().contains(u"Magick"_s)) << s.text().toStdString();
    EXPECT_FALSE(s.text().contains(u"@ "_s)) << s.text().toStdString();
}

TEST_F(CodecsTest, StoreFailsCleanlyWhereItCannotWrite) {
    Picbuf p = Load(source_);
    p.ImageFormat = Format(FormatId::Jpeg).code;
    p.FileName = dir_.filePath(u"no/such/dir/x.jpg"_s);
    EXPECT_EQ(p.Store().code(), ErrorCode::WriteFailed);
    p.FileName = dir_.filePath(u"x.xyz"_s);
    p.ImageFormat = 5;
    EXPECT_EQ(p.Store().code(), ErrorCode::BadArgument);
    EXPECT_FALSE(QFile::exists(p.FileName));
    Picbuf empty;
    empty.FileName = dir_.filePath(u"e.jpg"_s);
    empty.ImageFormat = Format(FormatId::Jpeg).code;
    EXPECT_EQ(empty.Store().code(), ErrorCode::NoPicture);
}

}  // namespace
}  // namespace velda
