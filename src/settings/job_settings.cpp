#include "settings/job_settings.h"

#include <QFileInfo>

#include "settings/presets.h"

namespace velda {

namespace {

template <class Values>
std::map<int, Values> ReadNumbered(const QString& file, int first, int last, QString (*name)(int)) {
    std::map<int, Values> out;
    const IniDocument doc = IniDocument::Load(file);
    for (int n = first; n <= last; ++n) {
        if (doc.HasSection(name(n))) out[n].Read(file, name(n));
    }
    return out;
}

}  // namespace

std::map<int, ExtraOutputSettings> ReadExtraOutputs(const QString& file) {
    return ReadNumbered<ExtraOutputSettings>(file, kFirstExtraOutput, kLastExtraOutput,
                                             &ExtraOutputName);
}

std::map<int, StackMarkSettings> ReadStackMarks(const QString& file) {
    return ReadNumbered<StackMarkSettings>(file, kFirstStackMark, kLastStackMark, &StackMarkName);
}

namespace {

template <class Values>
bool WriteNumbered(const QString& file, const std::map<int, Values>& sections, int first, int last,
                   QString (*name)(int)) {
    IniDocument doc = IniDocument::Load(file);
    bool had = false;
    for (int n = first; n <= last; ++n) {
        if (!doc.HasSection(name(n))) continue;
        doc.RemoveSection(name(n));
        had = true;
    }
    if (!had && sections.empty()) return true;
    for (const auto& [n, values] : sections) {
        for (const auto& [key, value] : values.values().asKeyValueRange())
            doc.SetValue(name(n), key, value);
    }
    return doc.Save(file);
}

}  // namespace

bool WriteStackMarks(const QString& file, const std::map<int, StackMarkSettings>& stack) {
    return WriteNumbered(file, stack, kFirstStackMark, kLastStackMark, &StackMarkName);
}

bool WriteExtraOutputs(const QString& file, const std::map<int, ExtraOutputSettings>& extras) {
    return WriteNumbered(file, extras, kFirstExtraOutput, kLastExtraOutput, &ExtraOutputName);
}

JobSettings ReadJobSettings(const QString& file) {
    JobSettings s;
    ReadWatermarkSettings(file, s.main);
    s.marks.Read(file);
    s.output.Read(file);
    s.extraOutputs = ReadExtraOutputs(file);
    s.stackMarks = ReadStackMarks(file);
    s.invisible.Read(file);
    s.keepMetadata = ReadKeepMetadata(file);
    s.losslessJpeg = ReadLosslessJpeg(file);
    return s;
}

bool ResolveSettings(const QString& file, bool fileMustExist, const QString& preset,
                     const QStringList& overrides, JobSettings* out, QString* error,
                     QStringList* warnings) {
    // A settings file that is there must be read whole, or the run would go
    // on without its marks.
    if (fileMustExist && !QFileInfo::exists(file)) {
        *error = QStringLiteral("settings file not found: %1").arg(file);
        return false;
    }
    const IniDocument doc = IniDocument::Load(file);
    if (*error = doc.ReadProblem(file); !error->isEmpty()) return false;
    JobSettings s = ReadJobSettings(file);
    if (!preset.isEmpty()) {
        QStringList refused;
        if (!ApplyPreset(file, preset, s.main, s.marks, s.output, &refused, &s.extraOutputs,
                         &s.stackMarks, &s.invisible)) {
            *error = QStringLiteral("no preset %1 in %2").arg(preset, file);
            return false;
        }
        for (const QString& kv : refused)
            warnings->append(
                QStringLiteral("preset %1: %2 is not a setting; left out").arg(preset, kv));
    }
    if (FileExists(file) && !doc.HasSection(kMainSection)) {
        warnings->append(QStringLiteral("%1 has no [%2] section; its settings are not used")
                             .arg(file, kMainSection));
    }
    for (const QString& kv : overrides) {
        const qsizetype eq = kv.indexOf(u'=');
        if (eq <= 0) {
            *error = QStringLiteral("--set takes KEY=VALUE: %1").arg(kv);
            return false;
        }
        const QString key = kv.left(eq), value = kv.mid(eq + 1);
        if (!SetWatermarkKey(s.main, key, value) && !s.marks.Apply(key, value) &&
            !s.output.Apply(key, value) && !ApplyExtraOutputKey(&s.extraOutputs, key, value) &&
            !ApplyStackMarkKey(&s.stackMarks, key, value) && !s.invisible.Apply(key, value)) {
            *error = QStringLiteral("--set %1: unknown key or value out of range").arg(kv);
            return false;
        }
    }
    *out = std::move(s);
    return true;
}

}  // namespace velda
