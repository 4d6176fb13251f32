#pragma once

#include <QString>
#include <QStringList>
#include <map>

#include "settings/section_settings.h"
#include "settings/settings.h"

namespace velda {

// Named sets of settings, each a section "[Preset NAME]" of velda.ini
// holding keys of "MainVeldaDetails", "Marks" and "Output".
inline const QString kPresetPrefix = QStringLiteral("Preset ");

// The presets the file holds, in its order.
QStringList PresetNames(const QString& path);

// Applies a preset over the settings; an empty value in it clears its key.
// False when the file has no such preset; refused lists the keys (as
// "KEY=VALUE") that no section takes.
// extras, where given, takes the further results' keys ("Output2.Format").
bool ApplyPreset(const QString& path, const QString& name, WatermarkSettings& main,
                 SectionValues& marks, SectionValues& output, QStringList* refused,
                 std::map<int, ExtraOutputSettings>* extras = nullptr,
                 std::map<int, StackMarkSettings>* stack = nullptr,
                 SectionValues* invisible = nullptr);

// Applies "OutputN.KEY" to the further result N's section: false for a
// key of no such section, or a value its key refuses.
bool ApplyExtraOutputKey(std::map<int, ExtraOutputSettings>* extras, const QString& key,
                         const QString& value);

// Applies "MarkN.KEY" to the further mark N's section, likewise.
bool ApplyStackMarkKey(std::map<int, StackMarkSettings>* marks, const QString& key,
                       const QString& value);

// Writes the settings as the preset of that name, replacing one of that
// name: every key of "Marks", "Output" and (given) "Invisible", and the keys of
// "MainVeldaDetails" that say how pictures are marked (not the folders
// and files of the session); the further marks' keys as "Mark2.KEY" and
// the further results' as "Output2.KEY". Applying a preset that holds
// marks replaces the whole stack.
bool SavePreset(const QString& path, const QString& name, const WatermarkSettings& main,
                const SectionValues& marks, const SectionValues& output,
                const std::map<int, StackMarkSettings>& stack = {},
                const std::map<int, ExtraOutputSettings>& extras = {},
                const SectionValues* invisible = nullptr);

}  // namespace velda
