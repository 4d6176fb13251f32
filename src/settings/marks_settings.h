#pragma once

#include <QMap>
#include <QString>
#include <optional>
#include <vector>

namespace velda {

// Section "Marks": how the watermark and text fit each picture (size
// relative to the picture, anchors, tiling, legibility). Every key absent
// or empty keeps the classic placement of "MainVeldaDetails".
inline const QString kMarksSection = QStringLiteral("Marks");

// A distance: pixels, or a percent of the picture's extent ("12", "5%").
struct Length {
    double value = 0;
    bool percent = false;
    double Pixels(int extent) const { return percent ? value / 100.0 * extent : value; }
};
std::optional<Length> ParseLength(const QString& text);
// A plain number within [min, max]; nothing for any other text.
std::optional<double> ParseNumberIn(const QString& text, double min, double max);

// One key of a section: its name, what it accepts, and a line of help.
struct KeySpec {
    enum class Kind { Percent, Choice, Length, Bool, Angle, Pixels };
    const char16_t* name;
    Kind kind;
    const char16_t* choices;  // Choice: the words, separated by blanks
    const char16_t* help;
};
const std::vector<KeySpec>& MarksKeys();

// The section's values as the file holds them, each checked and in its
// canonical spelling; a key without a value is absent.
struct MarksSettings {
    QMap<QString, QString> values;
    QString Value(const QString& key) const { return values.value(key); }
    bool operator==(const MarksSettings&) const = default;
};

// Applies one key: a value its key refuses changes nothing and gives false,
// as does an unknown key; an empty value clears the key.
bool ApplyMarksKey(MarksSettings& s, const QString& key, const QString& value);
// Reads the section over s; a missing file or section changes nothing.
void ReadMarksSettings(const QString& path, MarksSettings& s);
// Writes every key of the section, empty ones too; a file without the
// section gets none while every key is empty.
bool WriteMarksSettings(const QString& path, const MarksSettings& s);

}  // namespace velda
