#pragma once

#include <QString>
#include <QStringList>
#include <map>

#include "settings/section_settings.h"
#include "settings/settings.h"

namespace velda {

// Everything the marks and results of a run are made from, as velda.ini
// holds it: the classic section, the "Marks" and "Output" sections, and
// the two switches of "Options" that change results.
struct JobSettings {
    WatermarkSettings main;
    MarksSettings marks;
    OutputSettings output;
    // [Output2] ... [Output8], by number: the further results of each source.
    std::map<int, ExtraOutputSettings> extraOutputs;
    // [Mark2] ... [Mark16], by number: further marks, drawn in that order.
    std::map<int, StackMarkSettings> stackMarks;
    // [Invisible]: the mark that cannot be seen.
    InvisibleSettings invisible;
    bool keepMetadata = true;
    bool losslessJpeg = false;
};

// The file's [Output2] ... [Output8] sections that are there.
std::map<int, ExtraOutputSettings> ReadExtraOutputs(const QString& file);

// The file's [Mark2] ... [Mark16] sections that are there.
std::map<int, StackMarkSettings> ReadStackMarks(const QString& file);

// Writes the numbered sections as the file's [Mark2] ... or [Output2] ...
// sections, removing the ones it no longer has; a file that never had any
// gets none for none.
bool WriteStackMarks(const QString& file, const std::map<int, StackMarkSettings>& stack);
bool WriteExtraOutputs(const QString& file, const std::map<int, ExtraOutputSettings>& extras);

// The file's settings; a missing file gives the form's values.
JobSettings ReadJobSettings(const QString& file);

// The settings a run takes: the file (which must be there when
// fileMustExist, and must be read whole when it is), then its preset
// (empty: none), then KEY=VALUE overrides of any section (OutputN.KEY and
// MarkN.KEY for the numbered sections). Refused: a file
// that cannot be read whole, a preset it does not hold, an override of an
// unknown key or a value out of range (error says which). warnings: the
// preset's keys that are not settings, and a file without the classic
// section.
bool ResolveSettings(const QString& file, bool fileMustExist, const QString& preset,
                     const QStringList& overrides, JobSettings* out, QString* error,
                     QStringList* warnings);

}  // namespace velda
