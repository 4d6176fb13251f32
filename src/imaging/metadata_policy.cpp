// What a result's metadata keeps, and the rights written into it.
#include "imaging/metadata.h"

// Exiv2 0.27's API hands out std::auto_ptr; that is its business.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <initializer_list>
#include <string>

#include "imaging/metadata_internal.h"

namespace velda {

namespace {

using Keep = MetadataPolicy::Keep;

bool StartsWithAny(const std::string& key, std::initializer_list<const char*> prefixes) {
    for (const char* p : prefixes) {
        if (key.rfind(p, 0) == 0) return true;
    }
    return false;
}

// Kept whatever the policy: how the picture is to be turned.
bool IsOrientation(const std::string& key) {
    return key == "Exif.Image.Orientation" || key == "Xmp.tiff.Orientation";
}

bool IsLocation(const std::string& key) {
    return StartsWithAny(key, {"Exif.GPSInfo.", "Xmp.exif.GPS", "Iptc.Application2.City",
                               "Iptc.Application2.SubLocation", "Iptc.Application2.ProvinceState",
                               "Iptc.Application2.CountryCode", "Iptc.Application2.CountryName",
                               "Iptc.Application2.LocationCode", "Iptc.Application2.LocationName",
                               "Xmp.photoshop.City", "Xmp.photoshop.State", "Xmp.photoshop.Country",
                               "Xmp.iptc.Location", "Xmp.iptc.CountryCode",
                               "Xmp.iptcExt.LocationCreated", "Xmp.iptcExt.LocationShown"});
}

bool IsRights(const std::string& key) {
    return key == "Exif.Image.Artist" || key == "Exif.Image.Copyright" ||
           StartsWithAny(
               key,
               {"Iptc.Envelope.CharacterSet", "Iptc.Application2.Byline",
                "Iptc.Application2.BylineTitle", "Iptc.Application2.Credit",
                "Iptc.Application2.Source", "Iptc.Application2.Copyright", "Xmp.dc.creator",
                "Xmp.dc.rights", "Xmp.xmpRights.", "Xmp.photoshop.Credit", "Xmp.photoshop.Source",
                "Xmp.photoshop.AuthorsPosition", "Xmp.iptc.CreatorContactInfo", "Xmp.plus."});
}

// Who made the photo with what, and how it was set. What a photo's EXIF
// section holds beyond these is when it was taken and how its pixels are
// laid out.
bool IsCamera(const std::string& key, const std::string& group) {
    if (Exiv2::ExifTags::isMakerGroup(group) || group == "MakerNote") return true;
    if (StartsWithAny(key, {"Exif.Image.Make", "Exif.Image.Model", "Exif.Image.CameraSerialNumber",
                            "Exif.Image.LensInfo", "Xmp.tiff.Make", "Xmp.tiff.Model", "Xmp.exifEX.",
                            "Xmp.aux."}))
        return true;
    if (key.rfind("Exif.Photo.", 0) == 0)
        return !StartsWithAny(
            key,
            {"Exif.Photo.DateTime", "Exif.Photo.SubSecTime", "Exif.Photo.OffsetTime",
             "Exif.Photo.ColorSpace", "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension",
             "Exif.Photo.ExifVersion", "Exif.Photo.UserComment", "Exif.Photo.ImageUniqueID"});
    if (key.rfind("Xmp.exif.", 0) == 0) return !StartsWithAny(key, {"Xmp.exif.DateTime"});
    return false;
}

bool Dropped(const std::string& key, const std::string& group, const MetadataPolicy& policy) {
    if (IsOrientation(key)) return false;
    if (policy.removeLocation && IsLocation(key)) return true;
    switch (policy.keep) {
        case Keep::All:
            return false;
        case Keep::NoCamera:
            return IsCamera(key, group);
        case Keep::Copyright:
            return !IsRights(key);
        case Keep::None:
            return true;
    }
    return false;
}

template <typename Data>
void Filter(Data& data, const MetadataPolicy& policy) {
    for (auto it = data.begin(); it != data.end();) {
        if (Dropped(it->key(), it->groupName(), policy))
            it = data.erase(it);
        else
            ++it;
    }
}

template <typename Data>
void EraseKey(Data& data, const char* key) {
    for (auto it = data.begin(); it != data.end();) {
        if (it->key() == key)
            it = data.erase(it);
        else
            ++it;
    }
}

bool IsAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 127) return false;
    }
    return true;
}

void WriteRights(PhotoMetadata& m, const MetadataPolicy& policy) {
    if (!policy.creator.isEmpty()) {
        const std::string creator = policy.creator.toStdString();
        m.exif["Exif.Image.Artist"] = creator;
        EraseKey(m.iptc, "Iptc.Application2.Byline");
        m.iptc["Iptc.Application2.Byline"] = creator;
        EraseKey(m.xmp, "Xmp.dc.creator");
        m.xmp["Xmp.dc.creator"] = creator;
    }
    if (!policy.copyright.isEmpty()) {
        const std::string copyright = policy.copyright.toStdString();
        m.exif["Exif.Image.Copyright"] = copyright;
        m.iptc["Iptc.Application2.Copyright"] = copyright;
        EraseKey(m.xmp, "Xmp.dc.rights");
        m.xmp["Xmp.dc.rights"] = "lang=x-default " + copyright;
    }
    if (!policy.rightsUrl.isEmpty())
        m.xmp["Xmp.xmpRights.WebStatement"] = policy.rightsUrl.toStdString();
    if (!policy.copyright.isEmpty() || !policy.rightsUrl.isEmpty())
        m.xmp["Xmp.xmpRights.Marked"] = "True";
    // IPTC's text is Latin-1 unless the record says UTF-8.
    if (!IsAscii(policy.creator + policy.copyright))
        m.iptc["Iptc.Envelope.CharacterSet"] = "\x1b%G";
}

}  // namespace

QByteArray IccProfileOf(const PhotoMetadata* metadata) {
    return metadata ? metadata->icc : QByteArray();
}

MetadataPtr WithIccProfile(const MetadataPtr& metadata, const QByteArray& icc) {
    auto m =
        metadata ? std::make_shared<PhotoMetadata>(*metadata) : std::make_shared<PhotoMetadata>();
    m->icc = icc;
    return m;
}

MetadataPtr ApplyMetadataPolicy(const MetadataPtr& metadata, const MetadataPolicy& policy) {
    if (policy.ChangesNothing()) return metadata;
    auto m =
        metadata ? std::make_shared<PhotoMetadata>(*metadata) : std::make_shared<PhotoMetadata>();
    try {
        Filter(m->exif, policy);
        Filter(m->iptc, policy);
        Filter(m->xmp, policy);
        if (policy.keep != Keep::All || policy.removeLocation) {
            // The extended XMP packet is carried whole or not at all.
            m->extendedXmp.clear();
            EraseKey(m->xmp, "Xmp.xmpNote.HasExtendedXMP");
        }
        WriteRights(*m, policy);
    } catch (const std::exception&) {
        return nullptr;  // metadata that cannot be made is not written
    }
    if (m->exif.empty() && m->iptc.empty() && m->xmp.empty() && m->icc.isEmpty()) return nullptr;
    return m;
}

}  // namespace velda

#pragma GCC diagnostic pop
