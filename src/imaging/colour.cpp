#include "imaging/colour.h"

#include <lcms2.h>

#include <QSysInfo>
#include <cmath>
#include <memory>

#include "imaging/metadata.h"

namespace velda {

namespace {

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
struct TransformDeleter {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Profile OpenProfile(const QByteArray& icc) {
    if (icc.isEmpty()) return nullptr;
    return Profile(
        cmsOpenProfileFromMem(icc.constData(), static_cast<cmsUInt32Number>(icc.size())));
}

// The sRGB profile results are tagged with.
const QByteArray& SrgbProfileBytes() {
    static const QByteArray bytes = [] {
        Profile srgb(cmsCreate_sRGBProfile());
        cmsUInt32Number size = 0;
        if (!srgb || !cmsSaveProfileToMem(srgb.get(), nullptr, &size)) return QByteArray();
        QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
        if (!cmsSaveProfileToMem(srgb.get(), out.data(), &size)) return QByteArray();
        return out;
    }();
    return bytes;
}

bool Near(const cmsCIEXYZ* a, const cmsCIEXYZ* b) {
    return a && b && std::abs(a->X - b->X) < 0.002 && std::abs(a->Y - b->Y) < 0.002 &&
           std::abs(a->Z - b->Z) < 0.002;
}

}  // namespace

bool IsSrgbProfile(const QByteArray& icc) {
    const Profile p = OpenProfile(icc);
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!p || !srgb || cmsGetColorSpace(p.get()) != cmsSigRgbData) return false;
    for (const cmsTagSignature tag :
         {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
        if (!Near(static_cast<const cmsCIEXYZ*>(cmsReadTag(p.get(), tag)),
                  static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), tag))))
            return false;
    }
    for (const cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p.get(), tag));
        const auto* want = static_cast<const cmsToneCurve*>(cmsReadTag(srgb.get(), tag));
        if (!curve || !want) return false;
        for (float v = 0.0f; v <= 1.0f; v += 0.125f) {
            if (std::abs(cmsEvalToneCurveFloat(curve, v) - cmsEvalToneCurveFloat(want, v)) > 0.004f)
                return false;
        }
    }
    return true;
}

Status ConvertToSrgb(Picture* picture, bool* converted) {
    if (converted) *converted = false;
    const QByteArray icc = IccProfileOf(picture->metadata.get());
    if (icc.isEmpty() || picture->image.isNull() || IsSrgbProfile(icc)) return Status::Ok();
    const Profile from = OpenProfile(icc);
    if (!from) return Status::Ok();  // a profile that cannot be read is no guide
    const cmsColorSpaceSignature space = cmsGetColorSpace(from.get());
    if (space != cmsSigRgbData && space != cmsSigGrayData) return Status::Ok();
    if (picture->depth < 24 || picture->image.depth() != 32) {
        if (Status s = ToTrueColour(picture); !s.ok()) return s;
    }
    const Profile srgb(cmsCreate_sRGBProfile());
    // QImage's 32-bit pixels lie in memory as B, G, R, A on a
    // little-endian machine.
    const bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    const cmsUInt32Number rgba = little ? TYPE_BGRA_8 : TYPE_ARGB_8;
    if (space == cmsSigGrayData) {
        // A grey picture's pixels are read as grey: one channel of three.
        const Transform t(cmsCreateTransform(from.get(), TYPE_GRAY_8, srgb.get(), rgba,
                                             INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE));
        if (!t) return Status::Ok();
        QImage& image = picture->image;
        std::vector<uint8_t> grey(static_cast<size_t>(image.width()));
        for (int y = 0; y < image.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                grey[static_cast<size_t>(x)] = static_cast<uint8_t>(qGreen(line[x]));
            std::vector<QRgb> alpha(line, line + image.width());
            cmsDoTransform(t.get(), grey.data(), image.scanLine(y),
                           static_cast<cmsUInt32Number>(image.width()));
            QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                out[x] = (out[x] & 0x00ffffffu) | (alpha[static_cast<size_t>(x)] & 0xff000000u);
        }
    } else {
        const Transform t(cmsCreateTransform(from.get(), rgba, srgb.get(), rgba, INTENT_PERCEPTUAL,
                                             cmsFLAGS_COPY_ALPHA));
        if (!t) return Status::Ok();
        QImage& image = picture->image;
        for (int y = 0; y < image.height(); ++y) {
            uint8_t* line = image.scanLine(y);
            cmsDoTransform(t.get(), line, line, static_cast<cmsUInt32Number>(image.width()));
        }
    }
    picture->metadata = WithIccProfile(picture->metadata, SrgbProfileBytes());
    if (converted) *converted = true;
    return Status::Ok();
}

}  // namespace velda
