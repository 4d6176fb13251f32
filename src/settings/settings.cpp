#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <array>

#include "base/file_access.h"
#include "settings/numbers.h"

namespace velda {

namespace {

constexpr QChar kSeparator = u'/';

QString CutValue(QString value) {
    // Cut by characters, never in the middle of a surrogate pair.
    qsizetype units = 0;
    int chars = 0;
    while (units < value.size() && chars < kMaxValueChars) {
        units += (value[units].isHighSurrogate() && units + 1 < value.size()) ? 2 : 1;
        ++chars;
    }
    value.truncate(units);
    return value;
}

// The keys of "MainVeldaDetails", in the order they are read.
constexpr std::array<const char16_t*, 19> kWatermarkKeys = {u"OrigFile",
                                                            u"WaterMarkFile",
                                                            u"TemplateFile",
                                                            u"Textclr",
                                                            u"InitDir",
                                                            u"InputDir",
                                                            u"OutputDir",
                                                            u"Text",
                                                            u"ImagePercent",
                                                            u"TextPercent",
                                                            u"MixValue",
                                                            u"JPEGValue",
                                                            u"wx",
                                                            u"wy",
                                                            u"CentreWatermark",
                                                            u"tx",
                                                            u"ty",
                                                            u"ts",
                                                            u"tfont"};

bool IsSeparator(QChar c) {
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

}  // namespace

QString SettingsFilePathFor(const QString& programDir) {
    const QFileInfo dir(programDir);
    if (dir.isDir() && dir.isWritable())
        return programDir + kSeparator + QStringLiteral("velda.ini");
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/velda");
    QDir().mkpath(config);
    return config + QStringLiteral("/velda.ini");
}

QString SettingsFilePath() {
    return SettingsFilePathFor(QCoreApplication::applicationDirPath());
}

IniKeyValue ReadIniKey(const QString& path, const QString& section, const QString& key) {
    return ReadIniKey(IniDocument::Load(path), section, key);
}

IniKeyValue ReadIniKey(const IniDocument& doc, const QString& section, const QString& key) {
    const auto value = doc.Value(section, key);
    if (!value || value->isEmpty()) return {};
    const QString cut = CutValue(*value);
    return {static_cast<int>(cut.size()), cut};
}

bool WriteIniKey(const QString& path, const QString& section, const QString& key,
                 const QString& value) {
    IniDocument doc = IniDocument::Load(path);
    doc.SetValue(section, key, value);
    return doc.Save(path);
}

QString CutInitDir(const QString& initDir) {
    const QString s = initDir.trimmed();
    if (!initDir.contains(u'.')) return s;
    // The last character is never examined, so a trailing separator is kept
    // out of the scan; the first one found from the end ends the folder.
    for (qsizetype p = s.size() - 2; p >= 0; --p) {
        if (IsSeparator(s[p])) return s.left(p);
    }
    return s;
}

QString EncodeBooleanWord(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}
bool DecodeBooleanWord(const QString& text) {
    return text == u"True";
}
QString EncodeOptionState(bool selected) {
    return selected ? QStringLiteral("-1") : QStringLiteral("0");
}
bool DecodeOptionState(const QString& text) {
    return LeadingNumber(text) != 0.0;
}

std::optional<int> DecodeInteger(const QString& text, int min, int max) {
    if (text.trimmed().isEmpty()) return std::nullopt;  // absent or empty: nothing to apply
    const auto v = RoundToInt16(LeadingNumber(text));
    if (!v || *v < min || *v > max) return std::nullopt;
    return *v;
}

QString NumberText(const QString& text) {
    return FormatNumberText(LeadingNumber(text));
}

bool ApplyWatermarkKey(WatermarkSettings& s, const QString& key, const QString& value) {
    auto is = [&key](const char16_t* name) {
        return key.compare(QStringView(name), Qt::CaseInsensitive) == 0;
    };
    auto text = [&value](QString& field) {
        field = value.trimmed();
        return true;
    };
    auto integer = [&value](int& field, int min, int max) {
        const auto v = DecodeInteger(value, min, max);
        if (v) field = *v;
        return v.has_value();
    };
    auto number = [&value](QString& field) {
        field = NumberText(value);
        return true;
    };
    if (value.trimmed().isEmpty()) {
        return std::any_of(kWatermarkKeys.begin(), kWatermarkKeys.end(), is);
    }
    if (is(u"OrigFile")) return text(s.OrigFile);
    if (is(u"WaterMarkFile")) return text(s.WaterMarkFile);
    if (is(u"TemplateFile")) return text(s.TemplateFile);
    if (is(u"Textclr")) return text(s.Textclr);
    if (is(u"InitDir")) return text(s.InitDir);
    if (is(u"InputDir")) return text(s.InputDir);
    if (is(u"OutputDir")) return text(s.OutputDir);
    if (is(u"Text")) return text(s.Text);
    if (is(u"ImagePercent")) {
        s.ImagePercent = DecodeBooleanWord(value.trimmed());
        return true;
    }
    if (is(u"TextPercent")) {
        s.TextPercent = DecodeBooleanWord(value.trimmed());
        return true;
    }
    if (is(u"MixValue")) return integer(s.MixValue, 0, 255);
    if (is(u"JPEGValue")) return integer(s.JPEGValue, 0, 100);
    if (is(u"wx")) return number(s.wx);
    if (is(u"wy")) return number(s.wy);
    if (is(u"CentreWatermark")) return integer(s.CentreWatermark, 0, 1);
    if (is(u"tx")) return number(s.tx);
    if (is(u"ty")) return number(s.ty);
    if (is(u"ts")) return number(s.ts);
    if (is(u"tfont")) return text(s.tfont);
    return false;
}

bool SetWatermarkKey(WatermarkSettings& s, const QString& key, const QString& value) {
    if (!ApplyWatermarkKey(s, key, value)) return false;
    if (value.trimmed().isEmpty()) {
        auto is = [&key](const char* name) {
            return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        };
        if (is("WaterMarkFile")) s.WaterMarkFile.clear();
        if (is("TemplateFile")) s.TemplateFile.clear();
        if (is("Text")) s.Text.clear();
    }
    return true;
}

void ReadWatermarkSettings(const QString& path, WatermarkSettings& s) {
    if (!FileExists(path)) return;
    const IniDocument doc = IniDocument::Load(path);
    for (const char16_t* key : kWatermarkKeys) {
        const QString name = QString::fromUtf16(key);
        const QString value = CutValue(doc.Value(kMainSection, name).value_or(QString()));
        if (value.isEmpty()) {
            if (name == u"Textclr") s.Textclr = QStringLiteral("FFFFFF");
            continue;
        }
        ApplyWatermarkKey(s, name, value);
    }
}

bool WriteWatermarkSettings(const QString& path, const WatermarkSettings& s) {
    IniDocument doc = IniDocument::Load(path);
    for (const auto& [key, value] : WatermarkEntries(s))
        doc.SetValue(kMainSection, key, value);
    return doc.Save(path);
}

QList<std::pair<QString, QString>> WatermarkEntries(const WatermarkSettings& s) {
    QList<std::pair<QString, QString>> out;
    auto put = [&](const char* key, const QString& value) {
        out.append({QString::fromLatin1(key), value});
    };
    put("OrigFile", s.OrigFile.trimmed());
    put("WaterMarkFile", s.WaterMarkFile.trimmed());
    // Neither option of a pair chosen: empty, which reads back as neither.
    put("ImagePercent", s.ImagePercent ? EncodeBooleanWord(*s.ImagePercent) : QString());
    put("TextPercent", s.TextPercent ? EncodeBooleanWord(*s.TextPercent) : QString());
    put("TemplateFile", s.TemplateFile.trimmed());
    put("Textclr", s.Textclr.trimmed());
    put("InitDir", CutInitDir(s.InitDir));
    put("InputDir", s.InputDir.trimmed());
    put("OutputDir", s.OutputDir.trimmed());
    put("Text", s.Text.trimmed());
    put("MixValue", QString::number(s.MixValue));
    put("JPEGValue", QString::number(s.JPEGValue));
    put("wx", NumberText(s.wx));
    put("wy", NumberText(s.wy));
    put("CentreWatermark", QString::number(s.CentreWatermark));
    put("tx", NumberText(s.tx));
    put("ty", NumberText(s.ty));
    put("ts", NumberText(s.ts));
    put("tfont", s.tfont.trimmed());
    return out;
}

bool WriteSaveAsSettings(const QString& path, const SaveAsSettings& s) {
    IniDocument doc = IniDocument::Load(path);
    const QString section = kSaveAsSection;
    auto put = [&](const char* key, const QString& value) {
        doc.SetValue(section, QString::fromLatin1(key), value);
    };
    put("Path", s.Path.trimmed());
    put("JPEGValue", QString::number(s.JPEGValue));
    put("24bit", EncodeOptionState(s.bit24));
    put("8bit", EncodeOptionState(s.bit8));
    put("4bit", EncodeOptionState(s.bit4));
    put("TGAOption", EncodeOptionState(s.TGAOption));
    put("TIFOption", EncodeOptionState(s.TIFOption));
    put("JPGOption", EncodeOptionState(s.JPGOption));
    put("BMPOption", EncodeOptionState(s.BMPOption));
    put("PCXOption", EncodeOptionState(s.PCXOption));
    return doc.Save(path);
}

bool ReadOptionFlag(const QString& path, const QString& key, bool fallback) {
    const IniKeyValue v = ReadIniKey(path, kOptionsSection, key);
    return v.count == 0 ? fallback : DecodeBooleanWord(v.value);
}

bool WriteOptionFlag(const QString& path, const QString& key, bool value) {
    return WriteIniKey(path, kOptionsSection, key, EncodeBooleanWord(value));
}

bool ReadKeepMetadata(const QString& path) {
    return ReadOptionFlag(path, QStringLiteral("KeepMetadata"), true);
}

bool WriteKeepMetadata(const QString& path, bool keep) {
    return WriteOptionFlag(path, QStringLiteral("KeepMetadata"), keep);
}

bool ReadLosslessJpeg(const QString& path) {
    return ReadOptionFlag(path, QStringLiteral("LosslessJpeg"), false);
}

bool WriteLosslessJpeg(const QString& path, bool on) {
    return WriteOptionFlag(path, QStringLiteral("LosslessJpeg"), on);
}

}  // namespace velda
