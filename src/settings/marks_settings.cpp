#include "settings/marks_settings.h"

#include "settings/ini_file.h"
#include "settings/numbers.h"

namespace velda {

namespace {

using Kind = KeySpec::Kind;

const KeySpec* FindKey(const QString& key) {
    for (const KeySpec& k : MarksKeys()) {
        if (key.compare(QStringView(k.name), Qt::CaseInsensitive) == 0) return &k;
    }
    return nullptr;
}

// The canonical text of a value its key accepts.
std::optional<QString> Canonical(const KeySpec& k, const QString& text) {
    const QString t = text.trimmed();
    switch (k.kind) {
        case Kind::Percent:
            if (const auto v = ParseNumberIn(t, 0, 100)) return FormatNumberText(*v);
            return std::nullopt;
        case Kind::Angle:
            if (const auto v = ParseNumberIn(t, -90, 90)) return FormatNumberText(*v);
            return std::nullopt;
        case Kind::Pixels:
            if (const auto v = ParseNumberIn(t, 0, 1000)) return FormatNumberText(*v);
            return std::nullopt;
        case Kind::Length:
            if (const auto v = ParseLength(t))
                return FormatNumberText(v->value) + (v->percent ? QStringLiteral("%") : QString());
            return std::nullopt;
        case Kind::Bool:
            if (t.compare(u"true", Qt::CaseInsensitive) == 0) return QStringLiteral("True");
            if (t.compare(u"false", Qt::CaseInsensitive) == 0) return QStringLiteral("False");
            return std::nullopt;
        case Kind::Choice:
            for (const QString& word :
                 QString::fromUtf16(k.choices).split(u' ', Qt::SkipEmptyParts)) {
                if (word.compare(t, Qt::CaseInsensitive) == 0) return word;
            }
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::optional<double> ParseNumberIn(const QString& text, double min, double max) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !(v >= min && v <= max)) return std::nullopt;
    return v;
}

std::optional<Length> ParseLength(const QString& text) {
    QString t = text.trimmed();
    const bool percent = t.endsWith(u'%');
    if (percent) t.chop(1);
    // A margin beyond any picture is a typing mistake, not a placement.
    const auto v = ParseNumberIn(t, percent ? -100 : -100000, percent ? 100 : 100000);
    if (!v) return std::nullopt;
    return Length{*v, percent};
}

const std::vector<KeySpec>& MarksKeys() {
    static const std::vector<KeySpec> keys = {
        {u"WatermarkSize", Kind::Percent, nullptr,
         u"watermark width as a percent of WatermarkSizeOf (0: its own size)"},
        {u"WatermarkSizeOf", Kind::Choice, u"width height short long",
         u"the picture measure WatermarkSize refers to"},
        {u"Anchor", Kind::Choice, u"TL T TR L C R BL B BR",
         u"corner or edge the watermark keeps to (empty: wx, wy, centre)"},
        {u"MarginX", Kind::Length, nullptr, u"from the anchored edge: pixels, or N% of the width"},
        {u"MarginY", Kind::Length, nullptr, u"from the anchored edge: pixels, or N% of the height"},
        {u"Tile", Kind::Bool, nullptr, u"True: repeat the watermark across the picture"},
        {u"TileGap", Kind::Percent, nullptr, u"space between tiles, percent of the mark (50)"},
        {u"TileAngle", Kind::Angle, nullptr, u"the tiled pattern turned by -90 to 90 degrees"},
        {u"TextSize", Kind::Percent, nullptr,
         u"text line height, percent of the shorter edge (0: ts pixels)"},
        {u"TextAnchor", Kind::Choice, u"TL T TR L C R BL B BR",
         u"corner or edge the text keeps to (empty: tx, ty)"},
        {u"TextMarginX", Kind::Length, nullptr, u"as MarginX, for the text"},
        {u"TextMarginY", Kind::Length, nullptr, u"as MarginY, for the text"},
        {u"TextOutline", Kind::Pixels, nullptr, u"outline in the contrasting tone, pixels"},
        {u"TextShadow", Kind::Bool, nullptr, u"True: a soft drop shadow under the text"},
        {u"TextAutoTone", Kind::Bool, nullptr,
         u"True: white or black text, whichever stands out (overrides Textclr)"},
    };
    return keys;
}

bool ApplyMarksKey(MarksSettings& s, const QString& key, const QString& value) {
    const KeySpec* k = FindKey(key);
    if (!k) return false;
    const QString name = QString::fromUtf16(k->name);
    if (value.trimmed().isEmpty()) {
        s.values.remove(name);
        return true;
    }
    const auto v = Canonical(*k, value);
    if (!v) return false;
    s.values.insert(name, *v);
    return true;
}

void ReadMarksSettings(const QString& path, MarksSettings& s) {
    const IniDocument doc = IniDocument::Load(path);
    for (const KeySpec& k : MarksKeys()) {
        const QString name = QString::fromUtf16(k.name);
        const auto v = doc.Value(kMarksSection, name);
        if (v && !v->trimmed().isEmpty()) ApplyMarksKey(s, name, *v);
    }
}

bool WriteMarksSettings(const QString& path, const MarksSettings& s) {
    IniDocument doc = IniDocument::Load(path);
    // A file that never had the section keeps its old look while every
    // key would be empty.
    if (s.values.isEmpty() && !doc.HasSection(kMarksSection)) return true;
    for (const KeySpec& k : MarksKeys()) {
        const QString name = QString::fromUtf16(k.name);
        doc.SetValue(kMarksSection, name, s.Value(name));
    }
    return doc.Save(path);
}

}  // namespace velda
