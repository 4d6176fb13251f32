#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/numbers.h"
#include "settings/presets.h"
#include "settings/section_settings.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace velda {
namespace {

using test::ReadAll;
using test::WriteAll;

TEST(Numbers, LeadingNumberAndRoundingAsTypedIntoBoxes) {
    EXPECT_EQ(LeadingNumber(QStringLiteral("12abc")), 12.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("  -7.5 px")), -7.5);
    EXPECT_EQ(LeadingNumber(QStringLiteral("1 2")), 12.0);  // blanks skipped
    EXPECT_EQ(LeadingNumber(QStringLiteral("abc")), 0.0);
    EXPECT_EQ(LeadingNumber(QString()), 0.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("--5")), 0.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("1e2x")), 100.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral(".5")), 0.5);

    EXPECT_EQ(RoundToInt16(2.5), 2);
    EXPECT_EQ(RoundToInt16(3.5), 4);
    EXPECT_EQ(RoundToInt16(-2.5), -2);
    EXPECT_EQ(RoundToInt16(32767.4), 32767);
    EXPECT_FALSE(RoundToInt16(99999).has_value());
    EXPECT_FALSE(RoundToInt16(32767.5).has_value());  // rounds to 32768
    EXPECT_EQ(RoundToInt16Clamped(1e9), 32767);
    EXPECT_EQ(RoundToInt16Clamped(-1e9), -32768);

    EXPECT_EQ(FormatNumberText(10), QStringLiteral("10"));
    EXPECT_EQ(FormatNumberText(12.5), QStringLiteral("12.5"));
    EXPECT_EQ(FormatNumberText(-3), QStringLiteral("-3"));
    EXPECT_EQ(FormatNumberText(-0.0), QStringLiteral("0"));
    EXPECT_EQ(NumberText(QStringLiteral("7.50")), QStringLiteral("7.5"));
    EXPECT_EQ(NumberText(QStringLiteral("1e20")), QStringLiteral("100000000000000000000"));
}

TEST(Encodings, BooleanWordIntegerAndOptionState) {
    EXPECT_TRUE(DecodeBooleanWord(QStringLiteral("True")));
    EXPECT_FALSE(DecodeBooleanWord(QStringLiteral("true")));
    EXPECT_FALSE(DecodeBooleanWord(QStringLiteral("1")));
    EXPECT_EQ(DecodeInteger(QStringLiteral("12abc"), 0, 255), 12);
    EXPECT_EQ(DecodeInteger(QStringLiteral("2.5"), 0, 255), 2);
    EXPECT_EQ(DecodeInteger(QStringLiteral("3.5"), 0, 255), 4);
    EXPECT_FALSE(DecodeInteger(QStringLiteral("300"), 0, 255).has_value());
    EXPECT_FALSE(DecodeInteger(QStringLiteral("99999"), -32768, 32767).has_value());
    EXPECT_FALSE(DecodeInteger(QString(), 0, 255).has_value());
    EXPECT_EQ(DecodeInteger(QStringLiteral("abc"), 0, 255), 0);
    EXPECT_TRUE(DecodeOptionState(QStringLiteral("-1")));
    EXPECT_TRUE(DecodeOptionState(QStringLiteral("7x")));
    EXPECT_FALSE(DecodeOptionState(QStringLiteral("0")));
    EXPECT_FALSE(DecodeOptionState(QStringLiteral("yes")));
}

TEST(InitDir, CutBackToTheFolderOnlyWhenThePathHoldsADot) {
    EXPECT_EQ(CutInitDir(QStringLiteral("/photos/holiday/img01.jpg")),
              QStringLiteral("/photos/holiday"));
    EXPECT_EQ(CutInitDir(QStringLiteral("/scans")), QStringLiteral("/scans"));
    EXPECT_EQ(CutInitDir(QStringLiteral("/photos.old/scans")), QStringLiteral("/photos.old"));
    EXPECT_EQ(CutInitDir(QStringLiteral("  /a/b.c/  ")),
              QStringLiteral("/a"));  // last char not examined
    EXPECT_EQ(CutInitDir(QStringLiteral("img.jpg")), QStringLiteral("img.jpg"));
}

class IniTest : public ::testing::Test {
  protected:
    QString Path(const char* name = "velda.ini") const {
        return dir_.filePath(QString::fromLatin1(name));
    }
    QTemporaryDir dir_;
};

TEST_F(IniTest, WritesCreateFileAndSectionAndKeepEverythingElse) {
    const QString path = Path();
    ASSERT_TRUE(WriteIniKey(path, kMainSection, QStringLiteral("Text"), QStringLiteral("hello")));
    EXPECT_EQ(ReadIniKey(path, QStringLiteral("mainveldadetails"), QStringLiteral("TEXT")).value,
              QStringLiteral("hello"));

    WriteAll(
        path,
        "; my notes\n[Other]\nkeep=1\n\n[MAINVELDADETAILS]\ntext = old \nMixValue=5\n# tail\n");
    ASSERT_TRUE(WriteIniKey(path, kMainSection, QStringLiteral("Text"), QStringLiteral("new")));
    ASSERT_TRUE(WriteIniKey(path, kMainSection, QStringLiteral("wx"), QStringLiteral("7")));
    ASSERT_TRUE(WriteIniKey(path, kSaveAsSection, QStringLiteral("Path"), QStringLiteral("/tmp")));
    const QString text = QString::fromUtf8(ReadAll(path));
    EXPECT_TRUE(text.startsWith(QStringLiteral("; my notes\n[Other]\nkeep=1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("Text=new\nMixValue=5\nwx=7\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("# tail")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("[SaveAsDetails]\nPath=/tmp\n")));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 1);  // no temporary left behind

    // A line break in a value cannot add keys to the file.
    ASSERT_TRUE(
        WriteIniKey(path, kMainSection, QStringLiteral("Text"), QStringLiteral("a\nMixValue=200")));
    EXPECT_EQ(ReadIniKey(path, kMainSection, QStringLiteral("MixValue")).value,
              QStringLiteral("5"));
}

TEST_F(IniTest, ReadLimitEmptyValuesAndDamagedFiles) {
    const QString path = Path();
    WriteAll(path, "[S]\nlong=" + QByteArray(300, 'x') +
                       "\nwide=" + QString(300, QChar(0x00E9)).toUtf8() + "\nemoji=" +
                       QString(253, u'a').toUtf8() + "\xF0\x9F\x98\x80" + "\nempty=\n");
    EXPECT_EQ(ReadIniKey(path, QStringLiteral("S"), QStringLiteral("long")).count, 254);
    EXPECT_EQ(ReadIniKey(path, QStringLiteral("S"), QStringLiteral("wide")).value,
              QString(254, QChar(0x00E9)));
    const QString emoji = ReadIniKey(path, QStringLiteral("S"), QStringLiteral("emoji")).value;
    EXPECT_EQ(emoji.size(), 255);  // 253 letters and one whole surrogate pair
    EXPECT_TRUE(emoji.back().isLowSurrogate());
    EXPECT_EQ(ReadIniKey(path, QStringLiteral("S"), QStringLiteral("empty")).count, 0);
    EXPECT_EQ(ReadIniKey(path, QStringLiteral("S"), QStringLiteral("absent")).count, 0);
    EXPECT_EQ(ReadIniKey(Path("missing.ini"), QStringLiteral("S"), QStringLiteral("long")).count,
              0);

    // Garbage and binary bytes around a good section.
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(static_cast<char>((i * 7919) & 0xFF));
    WriteAll(path, junk + "\n[MainVeldaDetails]\nMixValue=99\n" + junk);
    EXPECT_EQ(ReadIniKey(path, kMainSection, QStringLiteral("MixValue")).value,
              QStringLiteral("99"));
    EXPECT_TRUE(WriteIniKey(path, kMainSection, QStringLiteral("MixValue"), QStringLiteral("1")));
    EXPECT_EQ(ReadIniKey(path, kMainSection, QStringLiteral("MixValue")).value,
              QStringLiteral("1"));
}

TEST_F(IniTest, FileExistsAndSettingsLocation) {
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(dir_.path()));
    EXPECT_FALSE(FileExists(Path("nope")));
    WriteAll(Path("x"), "1");
    EXPECT_TRUE(FileExists(Path("x")));

    EXPECT_EQ(SettingsFilePathFor(dir_.path()), dir_.path() + QStringLiteral("/velda.ini"));
    EXPECT_EQ(SettingsFilePathFor(QStringLiteral("/")), QStringLiteral("//velda.ini"));
    // A program directory that cannot be written sends the file to the
    // user's configuration directory.
    const QString elsewhere = SettingsFilePathFor(dir_.filePath(QStringLiteral("no/such/dir")));
    EXPECT_TRUE(elsewhere.endsWith(QStringLiteral("/velda/velda.ini")));
    EXPECT_FALSE(elsewhere.startsWith(dir_.path()));
}

TEST_F(IniTest, WatermarkSettingsRoundTripAndLoaderRules) {
    const QString path = Path();
    WatermarkSettings s;
    s.OrigFile = QStringLiteral("  /pics/a.jpg ");
    s.WaterMarkFile = QStringLiteral("/pics/logo.png");
    s.Text = QStringLiteral("(c) 2026");
    s.Textclr = QStringLiteral("0000FF");
    s.InitDir = QStringLiteral("/pics/a.jpg");
    s.ImagePercent = true;
    s.TextPercent = false;
    s.MixValue = 128;
    s.JPEGValue = 90;
    s.wx = QStringLiteral("12.50");
    s.CentreWatermark = 1;
    s.ts = QStringLiteral("40abc");
    s.tfont = QStringLiteral("DejaVu Sans");
    ASSERT_TRUE(WriteWatermarkSettings(path, s));
    const QString text = QString::fromUtf8(ReadAll(path));
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("[MainVeldaDetails]\nOrigFile=/pics/a.jpg\nWaterMarkFile=/pics/"
                       "logo.png\nImagePercent=True\n"
                       "TextPercent=False\nTemplateFile=\nTextclr=0000FF\nInitDir=/pics\n")));

    WatermarkSettings r;
    ReadWatermarkSettings(path, r);
    EXPECT_EQ(r.OrigFile, QStringLiteral("/pics/a.jpg"));
    EXPECT_EQ(r.Text, s.Text);
    EXPECT_EQ(r.ImagePercent, std::optional<bool>(true));
    EXPECT_EQ(r.TextPercent, std::optional<bool>(false));
    EXPECT_EQ(r.MixValue, 128);
    EXPECT_EQ(r.JPEGValue, 90);
    EXPECT_EQ(r.wx, QStringLiteral("12.5"));
    EXPECT_EQ(r.ts, QStringLiteral("40"));
    EXPECT_EQ(r.CentreWatermark, 1);
    EXPECT_EQ(r.tfont, s.tfont);

    // Refused and absent values keep the form's; only Textclr has a default.
    WriteAll(path, "[MainVeldaDetails]\nMixValue=300\nImagePercent=true\nJPEGValue=\nwy=abc\n");
    WatermarkSettings f;
    ReadWatermarkSettings(path, f);
    EXPECT_EQ(f.MixValue, 70);
    EXPECT_EQ(f.ImagePercent, std::optional<bool>(false));
    EXPECT_EQ(f.JPEGValue, 75);
    EXPECT_EQ(f.wy, QStringLiteral("0"));
    EXPECT_EQ(f.Textclr, QStringLiteral("FFFFFF"));
    EXPECT_FALSE(f.TextPercent.has_value());
    WatermarkSettings none;
    ReadWatermarkSettings(Path("missing.ini"), none);
    EXPECT_EQ(none.Textclr, QStringLiteral("10"));

    EXPECT_FALSE(ApplyWatermarkKey(f, QStringLiteral("NoSuchKey"), QStringLiteral("1")));
    EXPECT_FALSE(ApplyWatermarkKey(f, QStringLiteral("CentreWatermark"), QStringLiteral("2")));
    EXPECT_TRUE(ApplyWatermarkKey(f, QStringLiteral("mixvalue"), QStringLiteral("255")));
    EXPECT_EQ(f.MixValue, 255);
}

TEST_F(IniTest, KeepMetadataLivesInItsOwnSectionAndDefaultsToKeeping) {
    const QString path = Path();
    EXPECT_TRUE(ReadKeepMetadata(path));
    WatermarkSettings s;
    ASSERT_TRUE(WriteWatermarkSettings(path, s));
    ASSERT_TRUE(WriteKeepMetadata(path, false));
    EXPECT_FALSE(ReadKeepMetadata(path));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(path))
                    .endsWith(QStringLiteral("\n[Options]\nKeepMetadata=False\n")));
    ASSERT_TRUE(WriteWatermarkSettings(path, s));  // the other sections stay as they are
    EXPECT_FALSE(ReadKeepMetadata(path));
}

TEST_F(IniTest, MarksKeysAreCheckedAndKeptInTheirOwnSection) {
    MarksSettings m;
    // Any case in, one spelling out; empty clears; a refused value
    // changes nothing.
    EXPECT_TRUE(m.Apply(QStringLiteral("anchor"), QStringLiteral(" br ")));
    EXPECT_TRUE(m.Apply(QStringLiteral("WatermarkSizeOf"), QStringLiteral("SHORT")));
    EXPECT_TRUE(m.Apply(QStringLiteral("MarginX"), QStringLiteral("3.50%")));
    EXPECT_TRUE(m.Apply(QStringLiteral("MarginY"), QStringLiteral("-12")));
    EXPECT_TRUE(m.Apply(QStringLiteral("tile"), QStringLiteral("true")));
    EXPECT_TRUE(m.Apply(QStringLiteral("TileAngle"), QStringLiteral("-45")));
    for (const char* bad : {"Anchor=X", "WatermarkSize=101", "TileAngle=-91", "MarginX=3%%",
                            "TextOutline=-1", "TextShadow=1", "NoSuchKey=1", "WatermarkSize=1e400"})
        EXPECT_FALSE(m.Apply(QString::fromLatin1(bad).section(u'=', 0, 0),
                             QString::fromLatin1(bad).section(u'=', 1)))
            << bad;
    EXPECT_EQ(m.Value(QStringLiteral("Anchor")), QStringLiteral("BR"));
    EXPECT_EQ(m.Value(QStringLiteral("WatermarkSizeOf")), QStringLiteral("short"));
    EXPECT_EQ(m.Value(QStringLiteral("MarginX")), QStringLiteral("3.5%"));
    EXPECT_EQ(m.Value(QStringLiteral("Tile")), QStringLiteral("True"));
    EXPECT_TRUE(m.Apply(QStringLiteral("TileAngle"), QString()));
    EXPECT_FALSE(m.values().contains(QStringLiteral("TileAngle")));

    // Written beside the other sections and read back the same; a file
    // without the section is not given an empty one.
    const QString file = Path();
    WriteIniKey(file, kMainSection, QStringLiteral("Text"), QStringLiteral("hi"));
    const QByteArray before = test::ReadAll(file);
    ASSERT_TRUE(MarksSettings().Write(file));
    EXPECT_EQ(test::ReadAll(file), before);
    ASSERT_TRUE(m.Write(file));
    MarksSettings back;
    back.Read(file);
    EXPECT_EQ(back, m);
    EXPECT_EQ(ReadIniKey(file, kMainSection, QStringLiteral("Text")).value, QStringLiteral("hi"));
}

TEST_F(IniTest, OutputKeysAndPresetsKeepToTheirSections) {
    OutputSettings o;
    for (const char* good :
         {"Resize=LONG:2048", "Resize=fit:1920x1080", "NameTemplate={name}-web", "KeepTree=true"})
        EXPECT_TRUE(o.Apply(QString::fromLatin1(good).section(u'=', 0, 0),
                            QString::fromLatin1(good).section(u'=', 1)))
            << good;
    for (const char* bad : {"Resize=long", "Resize=long:0", "Resize=fit:10", "Resize=wide:10",
                            "NameTemplate=a/b", "NameTemplate=..", "Anchor=BR"})
        EXPECT_FALSE(o.Apply(QString::fromLatin1(bad).section(u'=', 0, 0),
                             QString::fromLatin1(bad).section(u'=', 1)))
            << bad;
    EXPECT_EQ(o.Value(QStringLiteral("Resize")), QStringLiteral("fit:1920x1080"));
    EXPECT_EQ(o.Value(QStringLiteral("KeepTree")), QStringLiteral("True"));

    // A preset holds the keys of all three sections; applied, its empty
    // values clear, and the session's files stay out of it.
    const QString file = Path();
    WatermarkSettings main;
    main.Text = QStringLiteral("(c) me");
    main.OrigFile = QStringLiteral("/photos/a.jpg");
    main.MixValue = 99;
    MarksSettings marks;
    ASSERT_TRUE(marks.Apply(QStringLiteral("Anchor"), QStringLiteral("BR")));
    ASSERT_TRUE(SavePreset(file, QStringLiteral("web"), main, marks, o));
    ASSERT_TRUE(SavePreset(file, QStringLiteral("print"), WatermarkSettings(), MarksSettings(),
                           OutputSettings()));
    ASSERT_TRUE(SavePreset(file, QStringLiteral("web"), main, marks, o));  // replaced, not added
    EXPECT_EQ(PresetNames(file), (QStringList{QStringLiteral("web"), QStringLiteral("print")}));
    EXPECT_FALSE(test::ReadAll(file).contains("OrigFile"));
    WatermarkSettings m2;
    m2.Text = QStringLiteral("old");
    MarksSettings k2;
    OutputSettings o2;
    ASSERT_TRUE(ApplyPreset(file, QStringLiteral("web"), m2, k2, o2, nullptr));
    EXPECT_EQ(m2.Text, QStringLiteral("(c) me"));
    EXPECT_EQ(m2.MixValue, 99);
    EXPECT_EQ(k2, marks);
    EXPECT_EQ(o2, o);
    ASSERT_TRUE(ApplyPreset(file, QStringLiteral("print"), m2, k2, o2, nullptr));
    EXPECT_TRUE(m2.Text.isEmpty());
    EXPECT_TRUE(k2.values().isEmpty() && o2.values().isEmpty());
    EXPECT_FALSE(ApplyPreset(file, QStringLiteral("none"), m2, k2, o2, nullptr));
}

TEST_F(IniTest, SaveAsSettingsRoundTrip) {
    const QString path = Path();
    SaveAsSettings s;
    s.Path = QStringLiteral("/out");
    s.JPEGValue = 33;
    s.bit24 = false;
    s.bit8 = true;
    s.PCXOption = true;
    ASSERT_TRUE(WriteSaveAsSettings(path, s));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(path)).contains(QStringLiteral("24bit=0\n8bit=-1\n")));
    SaveAsSettings r;
    ReadSaveAsSettings(path, r);
    EXPECT_EQ(r.Path, s.Path);
    EXPECT_EQ(r.JPEGValue, 33);
    EXPECT_FALSE(r.bit24);
    EXPECT_TRUE(r.bit8);
    EXPECT_TRUE(r.PCXOption);
    EXPECT_FALSE(r.JPGOption);
}

}  // namespace
}  // namespace velda
