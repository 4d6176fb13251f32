#include "settings/presets.h"

#include <QRegularExpression>

#include "settings/ini_file.h"

namespace velda {

namespace {

// What a session picks rather than how it marks: never part of a preset.
bool SessionKey(const QString& key) {
    for (const char* k : {"OrigFile", "InitDir", "InputDir", "OutputDir"}) {
        if (key.compare(QLatin1String(k), Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

// A section's preset name, trimmed; empty when it is no preset.
QString PresetName(const QString& section) {
    if (!section.startsWith(kPresetPrefix, Qt::CaseInsensitive)) return QString();
    return section.mid(kPresetPrefix.size()).trimmed();
}

// The section that holds a preset, however its name is spaced in the file.
QString PresetSection(const IniDocument& doc, const QString& name) {
    const QString wanted = name.trimmed();
    if (wanted.isEmpty()) return QString();
    for (const QString& section : doc.SectionNames()) {
        if (PresetName(section).compare(wanted, Qt::CaseInsensitive) == 0) return section;
    }
    return QString();
}

}  // namespace

QStringList PresetNames(const QString& path) {
    QStringList names;
    for (const QString& section : IniDocument::Load(path).SectionNames()) {
        if (const QString name = PresetName(section); !name.isEmpty()) names.append(name);
    }
    return names;
}

namespace {

// Applies "PREFIXn.KEY" to the numbered section n of the map.
template <class Values>
bool ApplyNumberedKey(std::map<int, Values>* sections, const QString& prefix, int first, int last,
                      const QString& key, const QString& value) {
    const QRegularExpression numbered(
        QStringLiteral(R"(^%1(\d+)\.(\w+)$)").arg(QRegularExpression::escape(prefix)),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = numbered.match(key);
    if (!sections || !m.hasMatch()) return false;
    const int n = m.captured(1).toInt();
    if (n < first || n > last) return false;
    Values values = (*sections)[n];
    if (!values.Apply(m.captured(2), value)) return false;
    (*sections)[n] = values;
    return true;
}

template <class Values>
void SetNumberedKeys(IniDocument& doc, const QString& section,
                     const std::map<int, Values>& sections, QString (*name)(int)) {
    for (const auto& [number, values] : sections) {
        for (const auto& [key, value] : values.values().asKeyValueRange())
            doc.SetValue(section, name(number) + u'.' + key, value);
    }
}

}  // namespace

bool ApplyExtraOutputKey(std::map<int, ExtraOutputSettings>* extras, const QString& key,
                         const QString& value) {
    return ApplyNumberedKey(extras, QStringLiteral("Output"), kFirstExtraOutput, kLastExtraOutput,
                            key, value);
}

bool ApplyStackMarkKey(std::map<int, StackMarkSettings>* marks, const QString& key,
                       const QString& value) {
    return ApplyNumberedKey(marks, QStringLiteral("Mark"), kFirstStackMark, kLastStackMark, key,
                            value);
}

bool ApplyPreset(const QString& path, const QString& name, WatermarkSettings& main,
                 SectionValues& marks, SectionValues& output, QStringList* refused,
                 std::map<int, ExtraOutputSettings>* extras,
                 std::map<int, StackMarkSettings>* stack, SectionValues* invisible) {
    const IniDocument doc = IniDocument::Load(path);
    const QString section = PresetSection(doc, name);
    if (section.isEmpty()) return false;
    // A preset that holds marks holds the whole stack: it replaces the
    // marks there were rather than adding to them.
    bool stackCleared = false;
    for (const auto& [key, value] : doc.Entries(section)) {
        if (stack && !stackCleared && key.startsWith(u"Mark", Qt::CaseInsensitive) &&
            key.contains(u'.')) {
            stack->clear();
            stackCleared = true;
        }
        const bool taken =
            (!SessionKey(key) && SetWatermarkKey(main, key, value)) || marks.Apply(key, value) ||
            output.Apply(key, value) || ApplyExtraOutputKey(extras, key, value) ||
            ApplyStackMarkKey(stack, key, value) || (invisible && invisible->Apply(key, value));
        if (!taken && refused) refused->append(key + u'=' + value);
    }
    return true;
}

bool SavePreset(const QString& path, const QString& name, const WatermarkSettings& main,
                const SectionValues& marks, const SectionValues& output,
                const std::map<int, StackMarkSettings>& stack,
                const std::map<int, ExtraOutputSettings>& extras, const SectionValues* invisible) {
    if (name.trimmed().isEmpty() || name.contains(u']')) return false;
    IniDocument doc = IniDocument::Load(path);
    QString section = PresetSection(doc, name);
    if (section.isEmpty()) section = kPresetPrefix + name.trimmed();
    doc.RemoveSection(section, true);
    for (const auto& [key, value] : WatermarkEntries(main)) {
        if (!SessionKey(key)) doc.SetValue(section, key, value);
    }
    for (const SectionValues* values : {&marks, &output, invisible}) {
        if (!values) continue;
        for (const KeyInfo& k : values->table().keys) {
            const QString key = QString::fromUtf16(k.name);
            doc.SetValue(section, key, values->Value(key));
        }
    }
    SetNumberedKeys(doc, section, stack, &StackMarkName);
    SetNumberedKeys(doc, section, extras, &ExtraOutputName);
    return doc.Save(path);
}

}  // namespace velda
