#pragma once

#include <QMap>
#include <QString>
#include <optional>
#include <vector>

#include "base/values.h"
#include "settings/ini_file.h"

namespace velda {

// The widest {counter:N} a name or text may ask for.
inline constexpr int kMaxCounterDigits = 12;

// The sections added beside the classic ones. Every key absent or empty
// means what the file meant before the section existed.
// "Marks": how the watermark and text fit each picture (size relative to
// the picture, anchors, tiling, legibility).
inline const QString kMarksSection = QStringLiteral("Marks");
// "Output": how results are sized and named.
inline const QString kOutputSection = QStringLiteral("Output");

// One key of a section: its name, what it accepts, and a line of help.
struct KeyInfo {
    enum class Kind {
        Percent,
        Choice,
        Length,
        Bool,
        Angle,
        Pixels,
        Resize,
        Name,
        Bytes,
        Text,
        Word,
        Folder,
        Turn,     // degrees, -180 to 180
        Colour,   // #RRGGBB, red-green-blue
        Payload,  // an invisible mark's bits: a number or up to 8 characters
        Strength  // a whole number from 1 to 10
    };
    const char16_t* name;
    Kind kind;
    const char16_t* choices;  // Choice: the words, separated by blanks
    const char16_t* help;
    double fallback = 0;  // what an absent numeric key means
};
struct KeyTable {
    QString name;
    std::vector<KeyInfo> keys;
};
const KeyTable& MarksSection();
const KeyTable& OutputSection();
// "Output2" to "Output8": further results of each source, each with its
// own format, size and folder.
inline constexpr int kFirstExtraOutput = 2, kLastExtraOutput = 8;
const KeyTable& ExtraOutputSection();
QString ExtraOutputName(int number);
// "Mark2" to "Mark16": further marks, drawn in number order after the
// classic watermark and text.
inline constexpr int kFirstStackMark = 2, kLastStackMark = 16;
const KeyTable& StackMarkSection();
QString StackMarkName(int number);
// "Invisible": a mark that cannot be seen, carrying Payload.
const KeyTable& InvisibleSection();

// A section's values as the file holds them, each checked and in its
// canonical spelling; a key without a value is absent.
class SectionValues {
  public:
    explicit SectionValues(const KeyTable& table) : table_(&table) {}
    const KeyTable& table() const { return *table_; }
    QString Value(const QString& key) const { return values_.value(key); }
    // A numeric key's value, or the number its absence means.
    double Number(const QString& key) const;
    double Fallback(const QString& key) const;
    const QMap<QString, QString>& values() const { return values_; }
    // Applies one key: a value its key refuses changes nothing and gives
    // false, as does a key of another section; an empty value clears it.
    bool Apply(const QString& key, const QString& value);
    // Reads the section (or the keys of it that another section, a
    // preset, holds) over these values; a missing file changes nothing.
    void Read(const QString& path, const QString& section = QString());
    // Writes every key of the section, empty ones too; a file without the
    // section gets none while every key is empty.
    bool Write(const QString& path) const;
    bool operator==(const SectionValues& o) const {
        return table_ == o.table_ && values_ == o.values_;
    }

  private:
    const KeyTable* table_;
    QMap<QString, QString> values_;
};

struct MarksSettings : SectionValues {
    MarksSettings() : SectionValues(MarksSection()) {}
};
struct OutputSettings : SectionValues {
    OutputSettings() : SectionValues(OutputSection()) {}
};
struct ExtraOutputSettings : SectionValues {
    ExtraOutputSettings() : SectionValues(ExtraOutputSection()) {}
};
struct StackMarkSettings : SectionValues {
    StackMarkSettings() : SectionValues(StackMarkSection()) {}
};
struct InvisibleSettings : SectionValues {
    InvisibleSettings() : SectionValues(InvisibleSection()) {}
};

}  // namespace velda
