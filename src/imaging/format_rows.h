#pragma once

// The rows of the format table, each defined beside its codec.
#include "imaging/formats.h"

namespace velda {

extern const FormatInfo kJpegFormat, kTiffFormat, kPngFormat, kWebpFormat, kHeicFormat, kAvifFormat,
    kJxlFormat, kBmpFormat, kPcxFormat, kTargaFormat, kGifFormat, kPhotoCdFormat, kFifFormat;

}  // namespace velda
