// Photo metadata through Exiv2.
#include "imaging/metadata.h"

// Exiv2 0.27's API hands out std::auto_ptr; that is its business.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <QTransform>
#include <mutex>

namespace velda {

struct PhotoMetadata {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QByteArray icc;
};

namespace {

// Exiv2's XMP toolkit is not thread-safe by itself: its documentation asks
// for a lock function when several threads read XMP.
void XmpLock(void* data, bool lock) {
    auto* mutex = static_cast<std::recursive_mutex*>(data);
    if (lock) {
        mutex->lock();
    } else {
        mutex->unlock();
    }
}

}  // namespace

void InitializeMetadata() {
    static std::recursive_mutex xmpMutex;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize(XmpLock, &xmpMutex);
}

MetadataPtr ReadMetadata(const QByteArray& file, int* orientation) {
    *orientation = 1;
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(file.constData()), static_cast<long>(file.size()));
        if (!image.get()) return nullptr;
        image->readMetadata();
        auto m = std::make_shared<PhotoMetadata>();
        m->exif = image->exifData();
        m->iptc = image->iptcData();
        m->xmp = image->xmpData();
        if (image->iccProfileDefined()) {
            const Exiv2::DataBuf* icc = image->iccProfile();
            m->icc = QByteArray(reinterpret_cast<const char*>(icc->pData_), icc->size_);
        }
        const auto o = m->exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (o != m->exif.end() && o->count() > 0) {
            const long v = o->toLong();
            if (v >= 1 && v <= 8) *orientation = static_cast<int>(v);
        }
        if (m->exif.empty() && m->iptc.empty() && m->xmp.empty() && m->icc.isEmpty())
            return nullptr;
        return m;
    } catch (const std::exception&) {
        // Damaged metadata never costs the picture.
        return nullptr;
    }
}

namespace {

template <class Data, class Key>
QString ValueText(const Data& data, const Key& key) {
    const auto it = data.findKey(key);
    if (it == data.end()) return QString();
    std::string text;
    if (it->typeId() == Exiv2::langAlt) {
        // The default language's text, without its language tag.
        text = static_cast<const Exiv2::LangAltValue&>(it->value()).toString(0);
    } else {
        text = it->toString();
    }
    return QString::fromStdString(text).remove(QChar(0)).trimmed();
}

}  // namespace

std::optional<QString> MetadataText(const PhotoMetadata* m, const QString& key) {
    const std::string name = key.toStdString();
    try {
        if (key.startsWith(QStringLiteral("Exif."))) {
            const Exiv2::ExifKey k(name);
            return m ? ValueText(m->exif, k) : QString();
        }
        if (key.startsWith(QStringLiteral("Iptc."))) {
            const Exiv2::IptcKey k(name);
            return m ? ValueText(m->iptc, k) : QString();
        }
        if (key.startsWith(QStringLiteral("Xmp."))) {
            const Exiv2::XmpKey k(name);
            return m ? ValueText(m->xmp, k) : QString();
        }
    } catch (const std::exception&) {
        // Not a key Exiv2 knows.
    }
    return std::nullopt;
}

QImage ApplyOrientation(const QImage& image, int orientation) {
    switch (orientation) {
        case 2:
            return image.mirrored(true, false);
        case 3:
            return image.transformed(QTransform().rotate(180));
        case 4:
            return image.mirrored(false, true);
        case 5:
            return image.transformed(QTransform().rotate(90)).mirrored(true, false);
        case 6:
            return image.transformed(QTransform().rotate(90));
        case 7:
            return image.transformed(QTransform().rotate(270)).mirrored(true, false);
        case 8:
            return image.transformed(QTransform().rotate(270));
        default:
            return image;
    }
}

Status EmbedMetadata(QByteArray* file, const PhotoMetadata& m, int width, int height,
                     bool keepOrientation) {
    try {
        auto image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file->constData()),
                                      static_cast<long>(file->size()));
        if (!image.get()) return Status::Error(ErrorCode::WriteFailed, QStringLiteral("metadata"));
        image->readMetadata();

        Exiv2::ExifData exif = m.exif;
        Exiv2::ExifThumb(exif).erase();  // a thumbnail of the old pixels would lie
        auto setIfPresent = [&exif](const char* key, uint32_t value) {
            const auto it = exif.findKey(Exiv2::ExifKey(key));
            if (it != exif.end()) it->setValue(std::to_string(value));
        };
        if (!exif.empty() && !keepOrientation)
            exif["Exif.Image.Orientation"] = static_cast<uint16_t>(1);
        const bool tiff = image->imageType() == Exiv2::ImageType::tiff;
        if (tiff) {
            // TIFF readers take the pixel dimensions as LONG only, and know
            // no interoperability directory (a JPEG's EXIF has one).
            for (auto it = exif.begin(); it != exif.end();) {
                const std::string key = it->key();
                if (key.rfind("Exif.Iop.", 0) == 0 || key == "Exif.Photo.InteroperabilityTag") {
                    it = exif.erase(it);
                } else {
                    ++it;
                }
            }
        }
        auto setDimension = [&](const char* key, uint32_t value) {
            const auto it = exif.findKey(Exiv2::ExifKey(key));
            if (it == exif.end()) return;
            if (tiff) {
                Exiv2::ULongValue v;
                v.value_.push_back(value);
                it->setValue(&v);
            } else {
                it->setValue(std::to_string(value));
            }
        };
        setDimension("Exif.Photo.PixelXDimension", static_cast<uint32_t>(width));
        setDimension("Exif.Photo.PixelYDimension", static_cast<uint32_t>(height));
        setIfPresent("Exif.Image.ImageWidth", static_cast<uint32_t>(width));
        setIfPresent("Exif.Image.ImageLength", static_cast<uint32_t>(height));

        Exiv2::XmpData xmp = m.xmp;
        auto setXmp = [&xmp](const char* key, int value) {
            const auto it = xmp.findKey(Exiv2::XmpKey(key));
            if (it != xmp.end()) it->setValue(std::to_string(value));
        };
        if (!keepOrientation) setXmp("Xmp.tiff.Orientation", 1);
        setXmp("Xmp.exif.PixelXDimension", width);
        setXmp("Xmp.exif.PixelYDimension", height);

        image->setExifData(exif);
        image->setIptcData(m.iptc);
        image->setXmpData(xmp);
        if (!m.icc.isEmpty()) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(m.icc.constData()),
                               static_cast<long>(m.icc.size()));
            image->setIccProfile(icc, false);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
        *file = QByteArray(reinterpret_cast<const char*>(written.pData_), written.size_);
        return Status::Ok();
    } catch (const std::exception& e) {
        return Status::Error(ErrorCode::WriteFailed, QString::fromLocal8Bit(e.what()));
    }
}

}  // namespace velda

#pragma GCC diagnostic pop
