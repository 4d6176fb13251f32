#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "base/file_access.h"
#include "settings/ini_file.h"

namespace velda {

inline const QString kMainSection = QStringLiteral("MainVeldaDetails");
inline const QString kSaveAsSection = QStringLiteral("SaveAsDetails");

// Longest value a key reads back as; longer values are cut here.
inline constexpr int kMaxValueChars = 254;

// Where velda.ini lives: beside the program. Where the program's directory
// cannot be written (an installation owned by root), the settings could
// never be kept there, so the file in the user's configuration directory is
// used for reading and writing instead. Both programs find it through this.
QString SettingsFilePath();
QString SettingsFilePathFor(const QString& programDir);

struct IniKeyValue {
    int count = 0;  // 0: absent or empty
    QString value;
};
IniKeyValue ReadIniKey(const QString& path, const QString& section, const QString& key);
// The same from a file already read, for a reader of many keys.
IniKeyValue ReadIniKey(const IniDocument& doc, const QString& section, const QString& key);
bool WriteIniKey(const QString& path, const QString& section, const QString& key,
                 const QString& value);

// The folder written for InitDir: a path holding a "." loses its last
// component, so a file's path becomes its folder.
QString CutInitDir(const QString& initDir);

// The value encodings of the settings file.
QString EncodeBooleanWord(bool value);
bool DecodeBooleanWord(const QString& text);  // only the exact "True" is true
QString EncodeOptionState(bool selected);     // -1 selected, 0 not
bool DecodeOptionState(const QString& text);  // leading number non-zero
// The leading number, rounded half to even, when it fits [min, max];
// nothing for an empty text, which stands for an absent key.
std::optional<int> DecodeInteger(const QString& text, int min, int max);
// A text box's text written or read back as a number in its shortest form.
QString NumberText(const QString& text);

// Section "MainVeldaDetails". Defaults are the control panel's form values.
struct WatermarkSettings {
    QString OrigFile;
    QString WaterMarkFile;
    QString TemplateFile;
    QString Textclr = QStringLiteral("10");
    QString InitDir;
    QString InputDir;
    QString OutputDir;
    QString Text;
    // Nothing: neither option of the pair is selected, as on a fresh form.
    std::optional<bool> ImagePercent;
    std::optional<bool> TextPercent;
    int MixValue = 70;
    int JPEGValue = 75;
    QString wx = QStringLiteral("10");
    QString wy = QStringLiteral("10");
    int CentreWatermark = 0;
    QString tx = QStringLiteral("10");
    QString ty = QStringLiteral("10");
    QString ts = QStringLiteral("20");
    QString tfont;
};

// The keys of "MainVeldaDetails", in the order the file writes them: each
// one's kind, the field of the record it fills, its range and a line of
// help.
struct MainKey {
    enum class Kind {
        Text,     // kept trimmed
        Folder,   // a folder, written as CutInitDir gives it
        Number,   // a text box's number, in its shortest form
        Flag,     // one option of a pair: True, False or neither
        Integer,  // a slider's or check box's value within [min, max]
    };
    const char16_t* name;
    Kind kind;
    QString WatermarkSettings::*text;
    std::optional<bool> WatermarkSettings::*flag;
    int WatermarkSettings::*integer;
    int min, max;
    const char16_t* help;
};
const std::vector<MainKey>& MainSectionKeys();

// Applies one key of "MainVeldaDetails" as the loader does: an empty value
// changes nothing, a value that its control would refuse changes nothing.
// Returns false for an unknown key or a refused value.
bool ApplyWatermarkKey(WatermarkSettings& s, const QString& key, const QString& value);

// As ApplyWatermarkKey, except that an empty value clears the watermark,
// template or text: the way to switch off one that the file names.
bool SetWatermarkKey(WatermarkSettings& s, const QString& key, const QString& value);

// The section's keys with their values as the file writes them, in order.
QList<std::pair<QString, QString>> WatermarkEntries(const WatermarkSettings& s);

// Reads the section over s; keys absent from the file keep s's values,
// except "Textclr", which falls back to "FFFFFF". A missing file changes
// nothing.
void ReadWatermarkSettings(const QString& path, WatermarkSettings& s);

// Writes every key of the section in its order. False when the file could
// not be written.
bool WriteWatermarkSettings(const QString& path, const WatermarkSettings& s);

// Section "SaveAsDetails".
struct SaveAsSettings {
    QString Path;
    int JPEGValue = 75;
    bool bit24 = true;
    bool bit8 = false;
    bool bit4 = false;
    bool TGAOption = false;
    bool TIFOption = false;
    bool JPGOption = false;
    bool BMPOption = false;
    bool PCXOption = false;
};
bool WriteSaveAsSettings(const QString& path, const SaveAsSettings& s);

// Section "Options", beside the others: whether results keep the photo
// metadata (EXIF, IPTC, XMP, colour profile) of their sources. Kept unless
// the file says otherwise.
inline const QString kOptionsSection = QStringLiteral("Options");
bool ReadKeepMetadata(const QString& path);
bool WriteKeepMetadata(const QString& path, bool keep);
// "LosslessJpeg": JPEG results of JPEG sources re-encode only the blocks
// under the marks. Off unless the file says otherwise.
bool ReadLosslessJpeg(const QString& path);
bool WriteLosslessJpeg(const QString& path, bool on);
// Any other switch of that section ("FitToWindow"), "True" or "False";
// fallback when the key is absent.
// The pictures opened last, newest first, as section "Recent" keeps them
// (File1 ... File10); adding one puts it first, once.
inline constexpr int kRecentFiles = 10;
QStringList ReadRecentFiles(const QString& path);
bool AddRecentFile(const QString& path, const QString& file);
bool RemoveRecentFile(const QString& path, const QString& file);

bool ReadOptionFlag(const QString& path, const QString& key, bool fallback);
bool WriteOptionFlag(const QString& path, const QString& key, bool value);

}  // namespace velda
