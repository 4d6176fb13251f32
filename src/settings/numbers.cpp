#include "settings/numbers.h"

#include <charconv>
#include <cmath>
#include <string>

namespace velda {

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

double LeadingNumber(const QString& text) {
    // Collect the characters that can form a number, skipping blanks
    // anywhere in the leading part, and let strtod read the longest valid
    // prefix of what was collected.
    std::string digits;
    digits.reserve(static_cast<size_t>(text.size()));
    bool seenPoint = false, seenExp = false, seenDigit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (IsBlank(c)) continue;
        const char ch = c.toLatin1();
        if (ch >= '0' && ch <= '9') {
            seenDigit = true;
        } else if ((ch == '+' || ch == '-') && (digits.empty() || digits.back() == 'e')) {
        } else if (ch == '.' && !seenPoint && !seenExp) {
            seenPoint = true;
        } else if ((ch == 'e' || ch == 'E') && seenDigit && !seenExp) {
            seenExp = true;
            digits.push_back('e');
            continue;
        } else {
            break;
        }
        digits.push_back(ch);
    }
    if (digits.empty()) return 0.0;
    double value = 0.0;
    const char* first = digits.data();
    if (*first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range) {
        return (*first == '-') ? -HUGE_VAL : HUGE_VAL;
    }
    if (ptr == first) return 0.0;
    return value;
}

std::optional<int16_t> RoundToInt16(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double r = std::nearbyint(value);  // default mode: half to even
    if (r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<int16_t>(r);
}

int16_t RoundToInt16Clamped(double value) {
    if (std::isnan(value)) return 0;
    if (value <= -32768.0) return -32768;
    if (value >= 32767.0) return 32767;
    return static_cast<int16_t>(std::nearbyint(value));
}

QString FormatNumberText(double value) {
    if (!std::isfinite(value)) return QStringLiteral("0");
    if (value == 0.0) value = 0.0;  // no "-0"
    char buf[400];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (ec != std::errc()) return QStringLiteral("0");
    return QString::fromLatin1(buf, ptr - buf);
}

}  // namespace velda
