#pragma once

// The inside of PhotoMetadata, for the files that work on it through
// Exiv2; everything else sees it opaque (metadata.h). Include after
// <exiv2/exiv2.hpp>.
#include <QByteArray>

namespace velda {

struct PhotoMetadata {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QByteArray icc;
    // A JPEG's extended XMP: the packet too large for one segment, which
    // the main XMP names by its digest in xmpNote:HasExtendedXMP.
    QByteArray extendedXmp;
};

}  // namespace velda
