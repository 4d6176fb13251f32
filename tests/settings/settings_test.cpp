#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "settings/ini_file.h"
#include "settings/numbers.h"
#include "settings/presets.h"
#include "settings/section_settings.h"
#include "settings/settings.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

using test::ReadAll;
using test::WriteAll;

TEST(Numbers, LeadingNumberAndRoundingAsTypedIntoBoxes) {
    EXPECT_EQ(LeadingNumber(u"12abc"_s), 12.0);
    EXPECT_EQ(LeadingNumber(u"  -7.5 px"_s), -7.5);
    EXPECT_EQ(LeadingNumber(u"1 2"_s), 12.0);  // blanks skipped
    EXPECT_EQ(LeadingNumber(u"abc"_s), 0.0);
    EXPECT_EQ(LeadingNumber(u"--5"_s), 0.0);
    EXPECT_EQ(LeadingNumber(u"1e2x"_s), 100.0);

    EXPECT_EQ(RoundToInt16(2.5), 2);
    EXPECT_EQ(RoundToInt16(-2.5), -2);
    EXPECT_EQ(RoundToInt16(32767.4), 32767);
    EXPECT_FALSE(RoundToInt16(99999).has_value());
    EXPECT_FALSE(RoundToInt16(32767.5).has_value());  // rounds to 32768
    EXPECT_EQ(RoundToInt16Clamped(1e9), 32767);

    EXPECT_EQ(FormatNumberText(10), u"10"_s);
    EXPECT_EQ(FormatNumberText(12.5), u"12.5"_s);
    EXPECT_EQ(FormatNumberText(-0.0), u"0"_s);
    EXPECT_EQ(NumberText(u"7.50"_s), u"7.5"_s);
    EXPECT_EQ(NumberText(u"1e20"_s), u"100000000000000000000"_s);
}

TEST(Encodings, BooleanWordIntegerAndOptionState) {
    EXPECT_TRUE(DecodeBooleanWord(u"True"_s));
    EXPECT_FALSE(DecodeBooleanWord(u"true"_s));
    EXPECT_FALSE(DecodeBooleanWord(u"1"_s));
    EXPECT_EQ(DecodeInteger(u"12abc"_s, 0, 255), 12);
    EXPECT_EQ(DecodeInteger(u"3.5"_s, 0, 255), 4);
    EXPECT_FALSE(DecodeInteger(u"300"_s, 0, 255).has_value());
    EXPECT_FALSE(DecodeInteger(QString(), 0, 255).has_value());
    EXPECT_EQ(DecodeInteger(u"abc"_s, 0, 255), 0);
    EXPECT_TRUE(DecodeOptionState(u"-1"_s));
    EXPECT_TRUE(DecodeOptionState(u"7x"_s));
    EXPECT_FALSE(DecodeOptionState(u"yes"_s));
}

TEST(InitDir, CutBackToTheFolderOnlyWhenThePathHoldsADot) {
    EXPECT_EQ(CutInitDir(u"/photos/holiday/img01.jpg"_s), u"/photos/holiday"_s);
    EXPECT_EQ(CutInitDir(u"/scans"_s), u"/scans"_s);
    EXPECT_EQ(CutInitDir(u"/photos.old/scans"_s), u"/photos.old"_s);
    EXPECT_EQ(CutInitDir(u"  /a/b.c/  "_s),
              u"/a"_s);  // last char not examined
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
    ASSERT_TRUE(WriteIniKey(path, kMainSection, u"Text"_s, u"hello"_s));
    EXPECT_EQ(ReadIniKey(path, u"mainveldadetails"_s, u"TEXT"_s).value, u"hello"_s);

    WriteAll(
        path,
        "; my notes\n[Other]\nkeep=1\n\n[MAINVELDADETAILS]\ntext = old \nMixValue=5\n# tail\n");
    ASSERT_TRUE(WriteIniKey(path, kMainSection, u"Text"_s, u"new"_s));
    ASSERT_TRUE(WriteIniKey(path, kMainSection, u"wx"_s, u"7"_s));
    ASSERT_TRUE(WriteIniKey(path, kSaveAsSection, u"Path"_s, u"/tmp"_s));
    const QString text = QString::fromUtf8(ReadAll(path));
    EXPECT_TRUE(text.startsWith(u"; my notes\n[Other]\nkeep=1\n"_s));
    EXPECT_TRUE(text.contains(u"Text=new\nMixValue=5\nwx=7\n"_s));
    EXPECT_TRUE(text.contains(u"# tail"_s));
    EXPECT_TRUE(text.endsWith(u"[SaveAsDetails]\nPath=/tmp\n"_s));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 1);  // no temporary left behind

    // A line break in a value cannot add keys to the file.
    ASSERT_TRUE(WriteIniKey(path, kMainSection, u"Text"_s, u"a\nMixValue=200"_s));
    EXPECT_EQ(ReadIniKey(path, kMainSection, u"MixValue"_s).value, u"5"_s);
}

TEST_F(IniTest, ReadLimitEmptyValuesAndDamagedFiles) {
    const QString path = Path();
    WriteAll(path, "[S]\nlong=" + QByteArray(300, 'x') +
                       "\nwide=" + QString(300, QChar(0x00E9)).toUtf8() + "\nemoji=" +
                       QString(253, u'a').toUtf8() + "\xF0\x9F\x98\x80" + "\nempty=\n");
    EXPECT_EQ(ReadIniKey(path, u"S"_s, u"long"_s).count, 254);
    EXPECT_EQ(ReadIniKey(path, u"S"_s, u"wide"_s).value, QString(254, QChar(0x00E9)));
    const QString emoji = ReadIniKey(path, u"S"_s, u"emoji"_s).value;
    EXPECT_EQ(emoji.size(), 255);  // 253 letters and one whole surrogate pair
    EXPECT_TRUE(emoji.back().isLowSurrogate());
    EXPECT_EQ(ReadIniKey(path, u"S"_s, u"empty"_s).count, 0);
    EXPECT_EQ(ReadIniKey(path, u"S"_s, u"absent"_s).count, 0);
    EXPECT_EQ(ReadIniKey(Path("missing.ini"), u"S"_s, u"long"_s).count, 0);

    // Garbage and binary bytes around a good section.
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(static_cast<char>((i * 7919) & 0xFF));
    WriteAll(path, junk + "\n[MainVeldaDetails]\nMixValue=99\n" + junk);
    EXPECT_EQ(ReadIniKey(path, kMainSection, u"MixValue"_s).value, u"99"_s);
    EXPECT_TRUE(WriteIniKey(path, kMainSection, u"MixValue"_s, u"1"_s));
    EXPECT_EQ(ReadIniKey(path, kMainSection, u"MixValue"_s).value, u"1"_s);
}

TEST_F(IniTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    // Large settings files are read whole, up to the limit.
    const QString path = Path();
    WriteAll(path, "; " + QByteArray(5 << 20, 'x') + "\n[MainVeldaDetails]\nMixValue=77\n");
    EXPECT_EQ(ReadIniKey(path, kMainSection, u"MixValue"_s).value, u"77"_s);
    // Beyond it, the file is refused by name and size, and left as it was.
    QFile f(path);
    ASSERT_TRUE(f.resize(kMaxIniBytes + 1));
    const IniDocument doc = IniDocument::Load(path);
    EXPECT_TRUE(doc.ReadProblem(path).contains(QString::number(kMaxIniBytes + 1)));
    EXPECT_FALSE(WriteIniKey(path, kMainSection, u"MixValue"_s, u"1"_s));
    WatermarkSettings s;
    EXPECT_FALSE(WriteWatermarkSettings(path, s));
    EXPECT_EQ(QFileInfo(path).size(), kMaxIniBytes + 1);
    // Nor is one without read permission; a missing one is simply made.
    WriteAll(path, "[MainVeldaDetails]\nMixValue=5\n");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    if (::geteuid() != 0) {  // root reads whatever the mode says
        EXPECT_FALSE(WriteIniKey(path, kMainSection, u"MixValue"_s, u"1"_s));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(ReadIniKey(path, kMainSection, u"MixValue"_s).value, u"5"_s);
    }
    EXPECT_TRUE(WriteIniKey(Path("new.ini"), kMainSection, u"MixValue"_s, u"1"_s));

    // Many sections are listed once each, without regard to case.
    QByteArray many;
    for (int i = 0; i < 40000; ++i)
        many += "[Preset p" + QByteArray::number(i) + "]\nText=x\n[preset P" +
                QByteArray::number(i) + "]\n";
    WriteAll(path, many);
    EXPECT_EQ(IniDocument::Load(path).SectionNames().size(), 40000);
}

TEST_F(IniTest, SettingsLocation) {
    EXPECT_EQ(SettingsFilePathFor(dir_.path()), dir_.path() + u"/velda.ini"_s);
    EXPECT_EQ(SettingsFilePathFor(u"/"_s), u"//velda.ini"_s);
    // A program directory that cannot be written sends the file to the
    // user's configuration directory.
    const QString elsewhere = SettingsFilePathFor(dir_.filePath(u"no/such/dir"_s));
    EXPECT_TRUE(elsewhere.endsWith(u"/velda/velda.ini"_s));
    EXPECT_FALSE(elsewhere.startsWith(dir_.path()));
}

TEST_F(IniTest, WatermarkSettingsRoundTripAndLoaderRules) {
    const QString path = Path();
    WatermarkSettings s;
    s.OrigFile = u"  /pics/a.jpg "_s;
    s.WaterMarkFile = u"/pics/logo.png"_s;
    s.Text = u"(c) 2026"_s;
    s.Textclr = u"0000FF"_s;
    s.InitDir = u"/pics/a.jpg"_s;
    s.ImagePercent = true;
    s.TextPercent = false;
    s.MixValue = 128;
    s.JPEGValue = 90;
    s.wx = u"12.50"_s;
    s.CentreWatermark = 1;
    s.ts = u"40abc"_s;
    s.tfont = u"DejaVu Sans"_s;
    ASSERT_TRUE(WriteWatermarkSettings(path, s));
    const QString text = QString::fromUtf8(ReadAll(path));
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("[MainVeldaDetails]\nOrigFile=/pics/a.jpg\nWaterMarkFile=/pics/"
                       "logo.png\nImagePercent=True\n"
                       "TextPercent=False\nTemplateFile=\nTextclr=0000FF\nInitDir=/pics\n")));

    WatermarkSettings r;
    ReadWatermarkSettings(path, r);
    EXPECT_EQ(r.OrigFile, u"/pics/a.jpg"_s);
    EXPECT_EQ(r.ImagePercent, std::optional<bool>(true));
    EXPECT_EQ(r.TextPercent, std::optional<bool>(false));
    EXPECT_EQ(r.MixValue, 128);
    EXPECT_EQ(r.wx, u"12.5"_s);
    EXPECT_EQ(r.ts, u"40"_s);
    EXPECT_EQ(r.CentreWatermark, 1);

    // Refused and absent values keep the form's; only Textclr has a default.
    WriteAll(path, "[MainVeldaDetails]\nMixValue=300\nImagePercent=true\nJPEGValue=\nwy=abc\n");
    WatermarkSettings f;
    ReadWatermarkSettings(path, f);
    EXPECT_EQ(f.MixValue, 70);
    EXPECT_EQ(f.ImagePercent, std::optional<bool>(false));
    EXPECT_EQ(f.JPEGValue, 75);
    EXPECT_EQ(f.wy, u"0"_s);
    EXPECT_EQ(f.Textclr, u"FFFFFF"_s);
    EXPECT_FALSE(f.TextPercent.has_value());
    WatermarkSettings none;
    ReadWatermarkSettings(Path("missing.ini"), none);
    EXPECT_EQ(none.Textclr, u"10"_s);

    EXPECT_FALSE(ApplyWatermarkKey(f, u"NoSuchKey"_s, u"1"_s));
    EXPECT_FALSE(ApplyWatermarkKey(f, u"CentreWatermark"_s, u"2"_s));
    EXPECT_TRUE(ApplyWatermarkKey(f, u"mixvalue"_s, u"255"_s));
    EXPECT_EQ(f.MixValue, 255);
}

TEST_F(IniTest, MarksKeysAreCheckedAndKeptInTheirOwnSection) {
    MarksSettings m;
    // Any case in, one spelling out; empty clears; a refused value
    // changes nothing.
    EXPECT_TRUE(m.Apply(u"anchor"_s, u" br "_s));
    EXPECT_TRUE(m.Apply(u"WatermarkSizeOf"_s, u"SHORT"_s));
    EXPECT_TRUE(m.Apply(u"MarginX"_s, u"3.50%"_s));
    EXPECT_TRUE(m.Apply(u"MarginY"_s, u"-12"_s));
    EXPECT_TRUE(m.Apply(u"tile"_s, u"true"_s));
    EXPECT_TRUE(m.Apply(u"TileAngle"_s, u"-45"_s));
    for (const char* bad : {"Anchor=X", "WatermarkSize=101", "TileAngle=-91", "MarginX=3%%",
                            "TextOutline=-1", "TextShadow=1", "NoSuchKey=1", "WatermarkSize=1e400"})
        EXPECT_FALSE(m.Apply(QString::fromLatin1(bad).section(u'=', 0, 0),
                             QString::fromLatin1(bad).section(u'=', 1)))
            << bad;
    EXPECT_EQ(m.Value(u"Anchor"_s), u"BR"_s);
    EXPECT_EQ(m.Value(u"WatermarkSizeOf"_s), u"short"_s);
    EXPECT_EQ(m.Value(u"MarginX"_s), u"3.5%"_s);
    EXPECT_EQ(m.Value(u"Tile"_s), u"True"_s);
    EXPECT_TRUE(m.Apply(u"TileAngle"_s, QString()));
    EXPECT_FALSE(m.values().contains(u"TileAngle"_s));

    // Written beside the other sections and read back the same; a file
    // without the section is not given an empty one.
    const QString file = Path();
    WriteIniKey(file, kMainSection, u"Text"_s, u"hi"_s);
    const QByteArray before = test::ReadAll(file);
    ASSERT_TRUE(MarksSettings().Write(file));
    EXPECT_EQ(test::ReadAll(file), before);
    ASSERT_TRUE(m.Write(file));
    MarksSettings back;
    back.Read(file);
    EXPECT_EQ(back, m);
    EXPECT_EQ(ReadIniKey(file, kMainSection, u"Text"_s).value, u"hi"_s);
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
    EXPECT_EQ(o.Value(u"Resize"_s), u"fit:1920x1080"_s);
    EXPECT_EQ(o.Value(u"KeepTree"_s), u"True"_s);

    // A preset holds the keys of all three sections; applied, its empty
    // values clear, and the session's files stay out of it.
    const QString file = Path();
    WatermarkSettings main;
    main.Text = u"(c) me"_s;
    main.OrigFile = u"/photos/a.jpg"_s;
    main.MixValue = 99;
    MarksSettings marks;
    ASSERT_TRUE(marks.Apply(u"Anchor"_s, u"BR"_s));
    ASSERT_TRUE(SavePreset(file, u"web"_s, main, marks, o));
    ASSERT_TRUE(
        SavePreset(file, u"print"_s, WatermarkSettings(), MarksSettings(), OutputSettings()));
    ASSERT_TRUE(SavePreset(file, u"web"_s, main, marks, o));  // replaced, not added
    EXPECT_EQ(PresetNames(file), (QStringList{u"web"_s, u"print"_s}));
    EXPECT_FALSE(test::ReadAll(file).contains("OrigFile"));
    WatermarkSettings m2;
    m2.Text = u"old"_s;
    MarksSettings k2;
    OutputSettings o2;
    ASSERT_TRUE(ApplyPreset(file, u"web"_s, m2, k2, o2, nullptr));
    EXPECT_EQ(m2.Text, u"(c) me"_s);
    EXPECT_EQ(m2.MixValue, 99);
    EXPECT_EQ(k2, marks);
    EXPECT_EQ(o2, o);
    ASSERT_TRUE(ApplyPreset(file, u"print"_s, m2, k2, o2, nullptr));
    EXPECT_TRUE(m2.Text.isEmpty());
    EXPECT_TRUE(k2.values().isEmpty() && o2.values().isEmpty());
    EXPECT_FALSE(ApplyPreset(file, u"none"_s, m2, k2, o2, nullptr));
}

}  // namespace
}  // namespace velda
