// Kodak Photo CD: read through ImageMagick at one of its five resolutions,
// never written.
#include <algorithm>

#include "imaging/codec.h"
#include "imaging/format_rows.h"

namespace velda {

namespace {

bool Sniff(const QByteArray& d, const QString&) {
    return d.size() >= 0x800 + 7 && d.mid(0x800, 7) == "PCD_IPI";
}

int Resolution(const DecodeOptions& o) {
    return std::clamp(o.photoCdResolution, 1, 5);
}

Status Header(const QByteArray&, const DecodeOptions& o, HeaderInfo* info) {
    // The size follows from the resolution asked for: Base is 768 x 512.
    info->width = 192 << (Resolution(o) - 1);
    info->height = 128 << (Resolution(o) - 1);
    info->depth = 24;
    return Status::Ok();
}

Status Decode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions& o, Picture* out) {
    // Photo CD stores PhotoYCC, which ImageMagick leaves as it is.
    return DecodeWithMagick(d, h, {.coder = "PCD", .subImage = Resolution(o), .toSrgb = true}, out);
}

}  // namespace

const FormatInfo kPhotoCdFormat = {
    .id = FormatId::PhotoCd,
    .name = "pcd",
    .title = "Photo CD",
    .endings = ".pcd",
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .decodeBytesPerPixel = 16,
};

}  // namespace velda
