#include "settings/section_settings.h"

#include <QRegularExpression>
#include <cmath>

#include "base/invisible_payload.h"
#include "settings/ini_file.h"
#include "settings/numbers.h"

namespace velda {

namespace {

const QRegularExpression kCounterToken(QStringLiteral(R"(\{counter:([^}]*)\})"));

}  // namespace

namespace {

using Kind = KeyInfo::Kind;

const KeyInfo* FindKey(const KeyTable& table, const QString& key) {
    for (const KeyInfo& k : table.keys) {
        if (key.compare(QStringView(k.name), Qt::CaseInsensitive) == 0) return &k;
    }
    return nullptr;
}

// The canonical text of a value its key accepts.
std::optional<QString> Canonical(const KeyInfo& k, const QString& text) {
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
        case Kind::Resize:
            if (const auto v = ParseResizeTarget(t)) return ResizeTargetText(*v);
            return std::nullopt;
        case Kind::Name:
            // A file name's stem: no folders, nothing that names no file.
            if (t.contains(u'/') || t.contains(u'\\') || t == u"." || t == u"..")
                return std::nullopt;
            // A counter padded wider than any run counts would stay in the
            // name as written.
            for (const auto& m : kCounterToken.globalMatch(t)) {
                bool ok = false;
                const int digits = m.captured(1).toInt(&ok);
                if (!ok || digits < 1 || digits > kMaxCounterDigits) return std::nullopt;
            }
            return t;
        case Kind::Word:
            // A name such as a format's: letters and digits.
            if (t.isEmpty()) return std::nullopt;
            for (const QChar c : t) {
                if (!c.isLetterOrNumber() || c.unicode() > 127) return std::nullopt;
            }
            return t.toLower();
        case Kind::Folder: {
            // A folder inside the output folder: relative, never above it.
            QString f = t;
            f.replace(u'\\', u'/');
            if (f.startsWith(u'/')) return std::nullopt;
            const QStringList parts = f.split(u'/', Qt::SkipEmptyParts);
            for (const QString& p : parts) {
                if (p == u"." || p == u"..") return std::nullopt;
                for (const QChar c : p) {
                    if (c.unicode() < 0x20) return std::nullopt;
                }
            }
            if (parts.isEmpty()) return std::nullopt;
            return parts.join(u'/');
        }
        case Kind::Turn:
            if (const auto v = ParseNumberIn(t, -180, 180)) return FormatNumberText(*v);
            return std::nullopt;
        case Kind::Colour: {
            static const QRegularExpression rgb(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
            if (rgb.match(t).hasMatch()) return t.toUpper();
            return std::nullopt;
        }
        case Kind::Payload:
            // Kept as written: it is read back in the same form.
            if (InvisiblePayload::Parse(t)) return t;
            return std::nullopt;
        case Kind::Strength:
            if (const auto v = ParseNumberIn(t, kMinInvisibleStrength, kMaxInvisibleStrength);
                v && *v == std::floor(*v))
                return FormatNumberText(*v);
            return std::nullopt;
        case Kind::Text:
            // One line: a line break would end the key in the file.
            for (const QChar c : t) {
                if (c.unicode() < 0x20) return std::nullopt;
            }
            return t;
        case Kind::Bytes:
            if (const auto v = ParseByteSize(t)) return ByteSizeText(*v);
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

const KeyTable& OutputSection() {
    static const KeyTable table{
        kOutputSection,
        {
            {u"Resize", Kind::Resize, nullptr,
             u"long:N, short:N, width:N, height:N or fit:WxH; never enlarges"},
            {u"ResizeFilter", Kind::Choice, u"lanczos3 area",
             u"lanczos3: sharp (the default); area: softer, as before"},
            {u"Sharpen", Kind::Choice, u"none low standard high",
             u"an unsharp mask for screens after the resize"},
            {u"ColourSpace", Kind::Choice, u"keep srgb",
             u"srgb: colours converted from the photo's profile to sRGB"},
            {u"MaxBytes", Kind::Bytes, nullptr,
             u"largest result (150k, 2M): quality lowered until it fits"},
            {u"Metadata", Kind::Choice, u"all nocamera copyright none",
             u"which of the source's metadata the results carry"},
            {u"RemoveLocation", Kind::Bool, nullptr,
             u"True: no GPS or IPTC/XMP location, whatever else is kept"},
            {u"Creator", Kind::Text, nullptr,
             u"written as EXIF Artist, IPTC By-line, XMP dc:creator (tokens)"},
            {u"Copyright", Kind::Text, nullptr,
             u"written as EXIF, IPTC and XMP copyright (tokens: {year})"},
            {u"RightsUrl", Kind::Text, nullptr, u"written as XMP xmpRights:WebStatement"},
            {u"NameTemplate", Kind::Name, nullptr,
             u"result name from {name} {counter} {date} {width} {height}"},
            {u"KeepTree", Kind::Bool, nullptr,
             u"True: results of a tree go to the same relative folders"},
        }};
    return table;
}

const KeyTable& ExtraOutputSection() {
    static const KeyTable table{
        QStringLiteral("Output2"),
        {
            {u"Format", Kind::Word, nullptr,
             u"the result's format, as --format (default: the run's)"},
            {u"Quality", Kind::Percent, nullptr, u"its quality (default: the run's)"},
            {u"Resize", Kind::Resize, nullptr, u"as [Output] Resize (empty: full size)"},
            {u"ResizeFilter", Kind::Choice, u"lanczos3 area", u"as [Output] ResizeFilter"},
            {u"Sharpen", Kind::Choice, u"none low standard high", u"as [Output] Sharpen"},
            {u"NameTemplate", Kind::Name, nullptr, u"as [Output] NameTemplate"},
            {u"MaxBytes", Kind::Bytes, nullptr, u"as [Output] MaxBytes"},
            {u"Folder", Kind::Folder, nullptr,
             u"a folder inside OUTPUT_DIR for these results, made as needed"},
        }};
    return table;
}

QString ExtraOutputName(int number) {
    return QStringLiteral("Output%1").arg(number);
}

const KeyTable& StackMarkSection() {
    static const KeyTable table{
        QStringLiteral("Mark2"),
        {
            {u"Kind", Kind::Choice, u"Picture Text",
             u"a picture or a text (default: Picture when File is set)"},
            {u"File", Kind::Text, nullptr, u"the mark's picture: any picture file, or an SVG"},
            {u"Text", Kind::Text, nullptr, u"the text, with tokens; \\n starts a new line"},
            {u"Font", Kind::Text, nullptr, u"font family (default: Arial)"},
            {u"Colour", Kind::Colour, nullptr, u"text colour as #RRGGBB (default: #FFFFFF)"},
            {u"Bold", Kind::Bool, nullptr, u"True: bold text"},
            {u"Align", Kind::Choice, u"Left Centre Right", u"how the lines align to each other"},
            {u"Size", Kind::Percent, nullptr,
             u"percent of SizeOf: a picture's width, a text's line height"},
            {u"SizeOf", Kind::Choice, u"width height short long",
             u"the measure Size refers to (default: width, short for text)"},
            {u"Anchor", Kind::Choice, u"TL T TR L C R BL B BR",
             u"corner or edge the mark keeps to (default: C)"},
            {u"MarginX", Kind::Length, nullptr, u"as [Marks] MarginX"},
            {u"MarginY", Kind::Length, nullptr, u"as [Marks] MarginY"},
            {u"Tile", Kind::Bool, nullptr, u"True: repeat the picture across the picture"},
            {u"TileGap", Kind::Percent, nullptr, u"as [Marks] TileGap (50)", 50},
            {u"TileAngle", Kind::Angle, nullptr, u"as [Marks] TileAngle"},
            {u"Rotate", Kind::Turn, nullptr, u"the mark turned by -180 to 180 degrees, ccw"},
            {u"Opacity", Kind::Percent, nullptr, u"0 to 100 (100)", 100},
            {u"Blend", Kind::Choice, u"Normal Multiply Screen Overlay SoftLight",
             u"how the mark's colours mix with the picture's"},
            {u"Orientation", Kind::Choice, u"Any Landscape Portrait Square",
             u"drawn only on pictures of this shape"},
            {u"Outline", Kind::Pixels, nullptr, u"as [Marks] TextOutline"},
            {u"Shadow", Kind::Bool, nullptr, u"as [Marks] TextShadow"},
            {u"AutoTone", Kind::Bool, nullptr, u"as [Marks] TextAutoTone"},
            {u"Box", Kind::Colour, nullptr, u"a box of this colour (#RRGGBB) behind the text"},
            {u"BoxOpacity", Kind::Percent, nullptr, u"the box's opacity (100)", 100},
            {u"BoxPadding", Kind::Pixels, nullptr, u"room between the text and the box's edges"},
        }};
    return table;
}

QString StackMarkName(int number) {
    return QStringLiteral("Mark%1").arg(number);
}

const KeyTable& InvisibleSection() {
    static const KeyTable table{
        QStringLiteral("Invisible"),
        {
            {u"Payload", Kind::Payload, nullptr,
             u"what an invisible mark carries: 1234, 0x1F2E or 8 characters"},
            {u"Strength", Kind::Strength, nullptr, u"1 (faintest) to 10 (most robust) (5)",
             kDefaultInvisibleStrength},
        }};
    return table;
}

const KeyTable& MarksSection() {
    static const KeyTable table{
        kMarksSection,
        {
            {u"WatermarkSize", Kind::Percent, nullptr,
             u"watermark width, percent of WatermarkSizeOf (0: its own)"},
            {u"WatermarkSizeOf", Kind::Choice, u"width height short long",
             u"the picture measure WatermarkSize refers to"},
            {u"Anchor", Kind::Choice, u"TL T TR L C R BL B BR",
             u"corner or edge the watermark keeps to (empty: wx, wy, centre)"},
            {u"MarginX", Kind::Length, nullptr,
             u"from the anchored edge: pixels, or N% of the width"},
            {u"MarginY", Kind::Length, nullptr,
             u"from the anchored edge: pixels, or N% of the height"},
            {u"Tile", Kind::Bool, nullptr, u"True: repeat the watermark across the picture"},
            {u"TileGap", Kind::Percent, nullptr, u"space between tiles, percent of the mark (50)",
             50},
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
             u"True: black or white text, whichever stands out (not Textclr)"},
        }};
    return table;
}

double SectionValues::Fallback(const QString& key) const {
    const KeyInfo* k = FindKey(*table_, key);
    return k ? k->fallback : 0;
}

double SectionValues::Number(const QString& key) const {
    return ParseNumberIn(Value(key), -1e9, 1e9).value_or(Fallback(key));
}

bool SectionValues::Apply(const QString& key, const QString& value) {
    const KeyInfo* k = FindKey(*table_, key);
    if (!k) return false;
    const QString name = QString::fromUtf16(k->name);
    if (value.trimmed().isEmpty()) {
        values_.remove(name);
        return true;
    }
    const auto v = Canonical(*k, value);
    if (!v) return false;
    values_.insert(name, *v);
    return true;
}

void SectionValues::Read(const QString& path, const QString& section) {
    const IniDocument doc = IniDocument::Load(path);
    for (const KeyInfo& k : table_->keys) {
        const QString name = QString::fromUtf16(k.name);
        const auto v = doc.Value(section.isEmpty() ? table_->name : section, name);
        if (!v) continue;
        // In its own section an empty value is an absent key; in a preset
        // it clears the key, so that a preset gives the same result
        // whatever was set before.
        if (!v->trimmed().isEmpty() || !section.isEmpty()) Apply(name, *v);
    }
}

bool SectionValues::Write(const QString& path) const {
    IniDocument doc = IniDocument::Load(path);
    // A file that never had the section keeps its old look while every
    // key would be empty.
    if (values_.isEmpty() && !doc.HasSection(table_->name)) return true;
    for (const KeyInfo& k : table_->keys) {
        const QString name = QString::fromUtf16(k.name);
        doc.SetValue(table_->name, name, Value(name));
    }
    return doc.Save(path);
}

}  // namespace velda
