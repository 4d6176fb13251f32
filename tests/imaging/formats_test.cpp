#include <gtest/gtest.h>

#include <QSet>

#include "imaging/formats.h"
#include "imaging/picture_io.h"
#include "imaging/quantize.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

Picture Photo() {
    return Picture{test::MakePhoto(41, 23).convertToFormat(QImage::Format_RGB32), 24, {}};
}

Picture Palette(int colours) {
    Picture p = Photo();
    EXPECT_TRUE(QuantizeImage(p.image, colours, &p.image).ok());
    p.depth = colours > 16 ? 8 : 4;
    return p;
}

// Each row names itself one way only, and what it writes is known again by
// its own signature and header: a row wired to another format's functions
// fails here.
TEST(Formats, EveryRowIsFoundByItsNamesAndReadsBackWhatItWrites) {
    QSet<QString> names, endings;
    QSet<int> codes;
    for (const FormatInfo* f : Formats()) {
        SCOPED_TRACE(f->name);
        EXPECT_EQ(&Format(f->id), f);
        EXPECT_FALSE(names.contains(QString::fromLatin1(f->name)));
        names.insert(QString::fromLatin1(f->name));
        EXPECT_EQ(FormatNamed(QString::fromLatin1(f->name).toUpper()), f);
        for (const QString& e : f->endingList()) {
            EXPECT_TRUE(e.startsWith(u'.') && e == e.toLower()) << e.toStdString();
            EXPECT_FALSE(endings.contains(e)) << e.toStdString();
            endings.insert(e);
            EXPECT_TRUE(HasPictureEnding(u"photo"_s + e.toUpper()));
            EXPECT_TRUE(PictureEndingPatterns().contains(u'*' + e));
        }
        if (!f->writable()) {
            EXPECT_EQ(f->code, 0);
            EXPECT_TRUE(f->extension().isEmpty());
            continue;
        }
        EXPECT_FALSE(codes.contains(f->code));
        codes.insert(f->code);
        EXPECT_EQ(FormatWithCode(f->code), f);
        EXPECT_EQ(f->extension(), f->endingList().first());
        for (const int depth : {24, 8, 4}) {
            SCOPED_TRACE(depth);
            const Picture picture = depth == 24 ? Photo() : Palette(depth == 8 ? 256 : 16);
            QByteArray bytes;
            const Status s = EncodePicture(picture, *f, 80, &bytes);
            if (!f->writes(depth)) {
                EXPECT_EQ(s.code(), ErrorCode::BadArgument);
                continue;
            }
            ASSERT_TRUE(s.ok()) << s.text().toStdString();
            const QString name = u"result"_s + f->extension();
            EXPECT_EQ(SniffFormat(bytes, name), f->id);
            HeaderInfo header;
            ASSERT_TRUE(ReadHeader(f->id, bytes, kPhotoCdBase, &header).ok());
            EXPECT_EQ(QSize(header.width, header.height), QSize(41, 23));
            Picture back;
            ASSERT_TRUE(DecodePicture(bytes, name, kPhotoCdBase, &back).ok());
            EXPECT_EQ(back.format, f->id);
            EXPECT_EQ(back.image.size(), QSize(41, 23));
        }
    }
    EXPECT_EQ(FormatNamed(u"jpeg"_s)->id, FormatId::Jpeg);  // an ending names it too
    EXPECT_EQ(FormatNamed(u"tiff"_s)->id, FormatId::Tiff);
    EXPECT_EQ(FormatNamed(u"wmf"_s), nullptr);
    EXPECT_EQ(SniffFormat("not a picture at all", u"x.jpg"_s), FormatId::Unknown);
}

// The one conversion before writing: the depth asked for, then what the
// format can hold.
TEST(Formats, PicturesAreBroughtToWhatTheFormatHolds) {
    struct Case {
        FormatId format;
        int depth;
        Picture source;
        int depthOut;
        bool palette;
    };
    const Case cases[] = {
        {FormatId::Jpeg, 8, Palette(256), 24, false},  // JPEG has no palette form
        {FormatId::Webp, 4, Photo(), 24, false},
        {FormatId::Gif, 24, Photo(), 8, true},      // GIF holds 256 colours at most
        {FormatId::Gif, 24, Palette(16), 8, true},  // raised first, then brought down
        {FormatId::Gif, 8, Palette(16), 8, true},   // the palette already fits
        {FormatId::Bmp, 4, Photo(), 4, true},
        {FormatId::Png, 24, Palette(256), 24, false},
        {FormatId::Tiff, 8, Photo(), 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Format(c.format).name);
        SCOPED_TRACE(c.depth);
        Picture out;
        ASSERT_TRUE(ToWritable(c.source, Format(c.format), c.depth, 1, &out).ok());
        EXPECT_EQ(out.depth, c.depthOut);
        EXPECT_EQ(out.image.format() == QImage::Format_Indexed8, c.palette);
        if (c.palette) {
            EXPECT_LE(out.image.colorCount(), c.depthOut == 4 ? 16 : 256);
        }
        EXPECT_EQ(WritableDepth(Format(c.format), c.depth), c.depthOut);
        QByteArray bytes;
        EXPECT_TRUE(EncodePicture(out, Format(c.format), 75, &bytes).ok());
    }
    Picture out;
    EXPECT_EQ(ToWritable(Picture(), Format(FormatId::Png), 24, 1, &out).code(),
              ErrorCode::NoPicture);
}

}  // namespace
}  // namespace velda
