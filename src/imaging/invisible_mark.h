#pragma once

#include <QSize>
#include <optional>

#include "base/invisible_payload.h"
#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

// An invisible mark: 64 bits spread over a tile of pseudo-random noise in
// luminance, repeated across the picture, so that any large enough part of
// it still holds whole tiles; the tiles' periodicity tells the detector the
// picture's scale and turn, a known part of each tile its offset, and a
// convolutional code with a 24-bit check the bits.

// Adds the mark to a true-colour or grey picture (a palette picture is
// raised to true colour). strength 1 to 10: the change's RMS is 0.36
// levels a step at most (at 5, a PSNR of 42.7 dB or more).
[[nodiscard]] Status EmbedInvisible(Picture* picture, const InvisiblePayload& payload,
                                    int strength);

// The memory EmbedInvisible takes beyond a picture of this size.
qint64 InvisibleWorkingBytes(QSize picture);

// The payload of the mark the picture holds, or nothing.
std::optional<InvisiblePayload> DetectInvisible(const Picture& picture);

}  // namespace velda
