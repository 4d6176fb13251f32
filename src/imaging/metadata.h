#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <memory>
#include <optional>

#include "imaging/status.h"

namespace velda {

// What a photograph carries besides its pixels: EXIF (camera, date,
// copyright, GPS...), IPTC, XMP and the ICC colour profile. Opaque here so
// that only metadata.cpp knows Exiv2.
struct PhotoMetadata;
using MetadataPtr = std::shared_ptr<const PhotoMetadata>;

// Reads the metadata of a picture file held in memory. A damaged part is
// dropped; nothing readable gives null. *orientation is the EXIF
// orientation (1 to 8; 1 when there is none).
MetadataPtr ReadMetadata(const QByteArray& file, int* orientation);

// Metadata from the blocks a container holds apart (HEIF's): EXIF from its
// TIFF header on, an XMP packet, an ICC profile; any may be empty. A damaged
// block is dropped; nothing readable gives null.
MetadataPtr MetadataFromBlocks(const QByteArray& exif, const QByteArray& xmp,
                               const QByteArray& icc);

// The text of one EXIF, IPTC or XMP value named by its Exiv2 key
// ("Exif.Image.Artist", "Iptc.Application2.Byline", "Xmp.dc.creator"):
// empty when the picture lacks it, nothing when the name is no such key.
std::optional<QString> MetadataText(const PhotoMetadata* metadata, const QString& key);

// The picture as the EXIF orientation says it is to be seen.
QImage ApplyOrientation(const QImage& image, int orientation);

// Writes metadata into an encoded JPEG or TIFF file held in memory, made
// true for the new file: orientation 1 (or the source's, for pixels kept
// in their stored frame), the new pixel dimensions, no embedded thumbnail
// of the old pixels.
Status EmbedMetadata(QByteArray* file, const PhotoMetadata& metadata, int width, int height,
                     bool keepOrientation = false);

// The metadata as the separate blocks a container's own encoder writes
// (HEIF's, JPEG XL's), made true for the new file as EmbedMetadata makes
// it: EXIF from its TIFF header on, an XMP packet (which also takes the
// IPTC values, for these containers have no place for IPTC), an ICC
// profile. A block that cannot be made is left empty.
struct MetadataBlocks {
    QByteArray exif;
    QByteArray xmp;
    QByteArray icc;
};
MetadataBlocks MetadataBlocksFor(const PhotoMetadata& metadata, int width, int height);

// Which of a source's metadata a result carries, and the rights written
// into it.
struct MetadataPolicy {
    enum class Keep {
        All,
        NoCamera,   // without make, model, serial numbers, lens, camera settings, maker notes
        Copyright,  // only the rights and creator fields
        None,
    };
    Keep keep = Keep::All;
    bool removeLocation = false;  // GPS and the IPTC and XMP location fields
    // Written over whatever the source said; empty: left as it is.
    QString creator, copyright, rightsUrl;

    bool WritesRights() const {
        return !creator.isEmpty() || !copyright.isEmpty() || !rightsUrl.isEmpty();
    }
    bool ChangesNothing() const { return keep == Keep::All && !removeLocation && !WritesRights(); }
};
// The metadata a result carries under the policy: EXIF, IPTC and XMP
// filtered alike, the rights written into all three (EXIF Artist and
// Copyright, IPTC By-line and Copyright Notice, XMP dc:creator, dc:rights,
// xmpRights:WebStatement and Marked). metadata may be null (a source
// without any); the result is null when nothing is left. The orientation
// and the colour profile are always kept, for without them the picture
// would be seen otherwise.
MetadataPtr ApplyMetadataPolicy(const MetadataPtr& metadata, const MetadataPolicy& policy);

// The embedded ICC colour profile, or empty.
QByteArray IccProfileOf(const PhotoMetadata* metadata);
// The same metadata with another profile (empty: none).
MetadataPtr WithIccProfile(const MetadataPtr& metadata, const QByteArray& icc);

// Whether a picture file carries content credentials (a C2PA manifest):
// in a JPEG's APP11 JUMBF boxes, a PNG's caBX chunk, a WebP's C2PA chunk,
// or a C2PA box of an ISO media file (the HEIF family) or a JPEG XL
// container. A result never carries them on, for their signature is of
// the pixels before the marks.
bool HasContentCredentials(const QByteArray& file);

// Exiv2's own one-time set-up (XMP parsing is not thread-safe before it).
void InitializeMetadata();

}  // namespace velda
