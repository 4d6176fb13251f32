#pragma once

#include <QByteArray>

#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

// Whether an ICC profile holds sRGB's colours: its primaries, white and
// tone curves those of sRGB, whatever it is called.
bool IsSrgbProfile(const QByteArray& icc);

// Brings a picture's colours from its embedded profile to sRGB (with
// lcms2, perceptual intent) and tags it with an sRGB profile, so that what
// is drawn on it next is sRGB too. A picture without a profile is taken as
// sRGB and left alone, as is one whose profile is sRGB already or is of
// another kind than RGB or grey. *converted says whether pixels changed.
[[nodiscard]] Status ConvertToSrgb(Picture* picture, bool* converted = nullptr);

}  // namespace velda
