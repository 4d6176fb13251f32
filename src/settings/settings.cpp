#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <vector>

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

const std::vector<MainKey>& MainSectionKeys() {
    using K = MainKey::Kind;
    using S = WatermarkSettings;
    static const std::vector<MainKey> keys = {
        {u"OrigFile", K::Text, &S::OrigFile, nullptr, nullptr, 0, 0,
         u"the picture the desktop program marks"},
        {u"WaterMarkFile", K::Text, &S::WaterMarkFile, nullptr, nullptr, 0, 0,
         u"the watermark picture (empty: none)"},
        {u"ImagePercent", K::Flag, nullptr, &S::ImagePercent, nullptr, 0, 0,
         u"True: wx, wy in percent of the picture"},
        {u"TextPercent", K::Flag, nullptr, &S::TextPercent, nullptr, 0, 0,
         u"True: tx, ty in percent of the picture"},
        {u"TemplateFile", K::Text, &S::TemplateFile, nullptr, nullptr, 0, 0,
         u"a grey picture to blend through (empty: the uniform MixValue)"},
        {u"Textclr", K::Text, &S::Textclr, nullptr, nullptr, 0, 0,
         u"text colour, six hexadecimal digits, blue green red"},
        {u"InitDir", K::Folder, &S::InitDir, nullptr, nullptr, 0, 0,
         u"where the Open dialogs start"},
        {u"InputDir", K::Text, &S::InputDir, nullptr, nullptr, 0, 0, u"the batch's input folder"},
        {u"OutputDir", K::Text, &S::OutputDir, nullptr, nullptr, 0, 0,
         u"the batch's output folder"},
        {u"Text", K::Text, &S::Text, nullptr, nullptr, 0, 0, u"the line of text (empty: none)"},
        {u"MixValue", K::Integer, nullptr, nullptr, &S::MixValue, 0, 255,
         u"transparency level 0-255 of the uniform mask"},
        {u"JPEGValue", K::Integer, nullptr, nullptr, &S::JPEGValue, 0, 100,
         u"JPEG and WebP quality 0-100"},
        {u"wx", K::Number, &S::wx, nullptr, nullptr, 0, 0, u"watermark left edge"},
        {u"wy", K::Number, &S::wy, nullptr, nullptr, 0, 0, u"watermark top edge"},
        {u"CentreWatermark", K::Integer, nullptr, nullptr, &S::CentreWatermark, 0, 1,
         u"1: the watermark centred"},
        {u"tx", K::Number, &S::tx, nullptr, nullptr, 0, 0, u"text left edge"},
        {u"ty", K::Number, &S::ty, nullptr, nullptr, 0, 0, u"text top edge"},
        {u"ts", K::Number, &S::ts, nullptr, nullptr, 0, 0, u"text size, pixels"},
        {u"tfont", K::Text, &S::tfont, nullptr, nullptr, 0, 0, u"the text's font family"},
    };
    return keys;
}

namespace {

const MainKey* FindMainKey(const QString& key) {
    for (const MainKey& k : MainSectionKeys())
        if (key.compare(QStringView(k.name), Qt::CaseInsensitive) == 0) return &k;
    return nullptr;
}

}  // namespace

bool ApplyWatermarkKey(WatermarkSettings& s, const QString& key, const QString& value) {
    const MainKey* k = FindMainKey(key);
    if (!k) return false;
    if (value.trimmed().isEmpty()) return true;
    switch (k->kind) {
        case MainKey::Kind::Text:
        case MainKey::Kind::Folder:
            s.*k->text = value.trimmed();
            return true;
        case MainKey::Kind::Number:
            s.*k->text = NumberText(value);
            return true;
        case MainKey::Kind::Flag:
            s.*k->flag = DecodeBooleanWord(value.trimmed());
            return true;
        case MainKey::Kind::Integer:
            if (const auto v = DecodeInteger(value, k->min, k->max)) {
                s.*k->integer = *v;
                return true;
            }
            return false;
    }
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
    for (const MainKey& k : MainSectionKeys()) {
        const QString name = QString::fromUtf16(k.name);
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
    for (const MainKey& k : MainSectionKeys()) {
        QString value;
        switch (k.kind) {
            case MainKey::Kind::Text:
                value = (s.*k.text).trimmed();
                break;
            case MainKey::Kind::Folder:
                value = CutInitDir(s.*k.text);
                break;
            case MainKey::Kind::Number:
                value = NumberText(s.*k.text);
                break;
            case MainKey::Kind::Flag:
                // Neither option of a pair chosen: empty, which reads back
                // as neither.
                value = s.*k.flag ? EncodeBooleanWord(*(s.*k.flag)) : QString();
                break;
            case MainKey::Kind::Integer:
                value = QString::number(s.*k.integer);
                break;
        }
        out.append({QString::fromUtf16(k.name), value});
    }
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

namespace {

const QString kRecentSection = QStringLiteral("Recent");

bool WriteRecentFiles(const QString& path, const QStringList& files) {
    IniDocument doc = IniDocument::Load(path);
    doc.RemoveSection(kRecentSection, true);
    for (qsizetype i = 0; i < files.size() && i < kRecentFiles; ++i)
        doc.SetValue(kRecentSection, QStringLiteral("File%1").arg(i + 1), files[i]);
    return doc.Save(path);
}

}  // namespace

QStringList ReadRecentFiles(const QString& path) {
    const IniDocument doc = IniDocument::Load(path);
    QStringList files;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const auto v = doc.Value(kRecentSection, QStringLiteral("File%1").arg(i));
        if (v && !v->trimmed().isEmpty() && !files.contains(*v)) files.append(*v);
    }
    return files;
}

bool AddRecentFile(const QString& path, const QString& file) {
    QStringList files = ReadRecentFiles(path);
    files.removeAll(file);
    files.prepend(file);
    return WriteRecentFiles(path, files);
}

bool RemoveRecentFile(const QString& path, const QString& file) {
    QStringList files = ReadRecentFiles(path);
    return files.removeAll(file) == 0 || WriteRecentFiles(path, files);
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
