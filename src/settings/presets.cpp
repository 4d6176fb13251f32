#include "settings/presets.h"

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

}  // namespace

QStringList PresetNames(const QString& path) {
    QStringList names;
    for (const QString& section : IniDocument::Load(path).SectionNames()) {
        if (section.startsWith(kPresetPrefix, Qt::CaseInsensitive) &&
            section.size() > kPresetPrefix.size())
            names.append(section.mid(kPresetPrefix.size()).trimmed());
    }
    return names;
}

bool ApplyPreset(const QString& path, const QString& name, WatermarkSettings& main,
                 SectionValues& marks, SectionValues& output, QStringList* refused) {
    const IniDocument doc = IniDocument::Load(path);
    const QString section = kPresetPrefix + name.trimmed();
    if (name.trimmed().isEmpty() || !doc.HasSection(section)) return false;
    for (const auto& [key, value] : doc.Entries(section)) {
        const bool taken = (!SessionKey(key) && SetWatermarkKey(main, key, value)) ||
                           marks.Apply(key, value) || output.Apply(key, value);
        if (!taken && refused) refused->append(key + u'=' + value);
    }
    return true;
}

bool SavePreset(const QString& path, const QString& name, const WatermarkSettings& main,
                const SectionValues& marks, const SectionValues& output) {
    if (name.trimmed().isEmpty() || name.contains(u']')) return false;
    IniDocument doc = IniDocument::Load(path);
    const QString section = kPresetPrefix + name.trimmed();
    doc.RemoveSection(section, true);
    for (const auto& [key, value] : WatermarkEntries(main)) {
        if (!SessionKey(key)) doc.SetValue(section, key, value);
    }
    for (const SectionValues* values : {&marks, &output}) {
        for (const KeyInfo& k : values->table().keys) {
            const QString key = QString::fromUtf16(k.name);
            doc.SetValue(section, key, values->Value(key));
        }
    }
    return doc.Save(path);
}

}  // namespace velda
