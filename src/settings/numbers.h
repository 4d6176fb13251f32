#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace velda {

// The leading numeric part of a text, the way numbers typed into the
// control panel's boxes are read: blanks are skipped, reading stops at the
// first character that cannot belong to a number, and text without any
// number gives 0. "12abc" gives 12, " -7.5 px" gives -7.5.
double LeadingNumber(const QString& text);

// Round to the nearest whole number, a half going to the even neighbour
// (2.5 -> 2, 3.5 -> 4). Nothing when the result does not fit 16 bits.
std::optional<int16_t> RoundToInt16(double value);

// As RoundToInt16, but a value outside 16 bits is pinned to the nearest end
// of the range instead of failing: positions and sizes typed by the user
// must never stop the program.
int16_t RoundToInt16Clamped(double value);

// The shortest plain decimal form of a number: 10, 12.5, -3 (never an
// exponent, never a trailing zero).
QString FormatNumberText(double value);

}  // namespace velda
