#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace velda {

inline constexpr int kDefaultInvisibleStrength = 5;
inline constexpr int kMinInvisibleStrength = 1, kMaxInvisibleStrength = 10;

// What a mark carries, and how it was written, so that it reads back as it
// was given: a decimal or 0x hexadecimal number of 64 bits, or up to eight
// printable ASCII characters.
struct InvisiblePayload {
    enum class Form : uint8_t { Decimal, Hex, Text };
    uint64_t value = 0;
    Form form = Form::Decimal;
    int hexDigits = 0;         // Hex: the digits written after 0x, 1 to 16
    bool upperDigits = false;  // Hex: A-F rather than a-f
    bool upperX = false;       // Hex: 0X rather than 0x

    // The payload a text gives, or nothing when it is none of the three
    // (empty, a number over 64 bits, more than eight characters).
    static std::optional<InvisiblePayload> Parse(const QString& text);
    // As it was given.
    QString ToString() const;
    bool operator==(const InvisiblePayload&) const = default;
};

}  // namespace velda
