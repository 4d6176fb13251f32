#include "base/invisible_payload.h"

namespace velda {

std::optional<InvisiblePayload> InvisiblePayload::Parse(const QString& given) {
    const QString t = given.trimmed();
    if (t.isEmpty()) return std::nullopt;
    InvisiblePayload p;
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) {
        const QString digits = t.mid(2);
        bool ok = false;
        const qulonglong v = digits.toULongLong(&ok, 16);
        if (ok && digits.size() <= 16) {
            p.form = Form::Hex;
            p.value = v;
            p.hexDigits = static_cast<int>(digits.size());
            p.upperX = t[1] == u'X';
            for (QChar c : digits)
                p.upperDigits = p.upperDigits || (c >= u'A' && c <= u'F');
            return p;
        }
    }
    bool allDigits = true;
    for (QChar c : t)
        allDigits = allDigits && c >= u'0' && c <= u'9';
    // A number with a leading zero would lose it; it is kept as characters.
    if (allDigits && (t.size() == 1 || t[0] != u'0')) {
        bool ok = false;
        const qulonglong v = t.toULongLong(&ok, 10);
        if (!ok) return std::nullopt;
        p.value = v;
        return p;
    }
    if (t.size() > 8) return std::nullopt;
    p.form = Form::Text;
    for (QChar c : t) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) return std::nullopt;
        p.value = (p.value << 8) | c.unicode();
    }
    p.value <<= 8 * (8 - t.size());
    return p;
}

QString InvisiblePayload::ToString() const {
    switch (form) {
        case Form::Decimal:
            return QString::number(value);
        case Form::Hex: {
            QString digits = QString::number(value, 16).rightJustified(hexDigits, u'0');
            if (upperDigits) digits = digits.toUpper();
            return (upperX ? QStringLiteral("0X") : QStringLiteral("0x")) + digits;
        }
        case Form::Text: {
            QString out;
            for (int i = 7; i >= 0; --i) {
                const auto c = static_cast<char16_t>((value >> (8 * i)) & 0xff);
                if (c == 0) break;
                out += QChar(c);
            }
            return out;
        }
    }
    return QString();
}

}  // namespace velda
