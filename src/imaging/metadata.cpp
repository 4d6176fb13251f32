// Photo metadata through Exiv2.
#include "imaging/metadata.h"

// Exiv2 0.27's API hands out std::auto_ptr; that is its business.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <webp/mux.h>

#include <QCryptographicHash>
#include <QMap>
#include <QTransform>
#include <QtEndian>
#include <cstring>
#include <initializer_list>
#include <mutex>

#include "imaging/metadata_internal.h"

namespace velda {

namespace {

const QByteArray kIccSignature("ICC_PROFILE\0", 12);
const QByteArray kXmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray kExtendedXmpSignature("http://ns.adobe.com/xmp/extension/\0", 35);

// Four bytes, most significant first, as JPEG and PNG store their numbers.
QByteArray BigEndianBytes(quint32 v) {
    QByteArray b(4, Qt::Uninitialized);
    qToBigEndian(v, b.data());
    return b;
}

quint32 BigEndian32(const char* p) {
    return qFromBigEndian<quint32>(p);
}

// The segments of a JPEG before its image data: each marker with its
// payload's offset and length. Stops at the first scan or at anything
// that is not a well-formed segment.
struct Segment {
    uchar marker;
    qsizetype at, length;
};
QList<Segment> JpegSegments(const QByteArray& d) {
    QList<Segment> out;
    if (!d.startsWith("\xFF\xD8")) return out;
    qsizetype i = 2;
    while (i + 4 <= d.size() && static_cast<uchar>(d[i]) == 0xFF) {
        const auto marker = static_cast<uchar>(d[i + 1]);
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        const qsizetype length = (static_cast<uchar>(d[i + 2]) << 8 | static_cast<uchar>(d[i + 3]));
        if (length < 2 || i + 2 + length > d.size()) break;
        out.append({marker, i + 4, length - 2});
        i += 2 + length;
    }
    return out;
}

// The ICC profile of a JPEG, its chunks put in the order their numbers say
// whatever order the file holds them in; empty unless every chunk is there
// once.
QByteArray JpegIccProfile(const QByteArray& d, const QList<Segment>& segments) {
    QMap<int, QByteArray> chunks;
    int count = -1;
    for (const Segment& s : segments) {
        if (s.marker != 0xE2 || s.length < 14 || d.mid(s.at, kIccSignature.size()) != kIccSignature)
            continue;
        const int seq = static_cast<uchar>(d[s.at + 12]), n = static_cast<uchar>(d[s.at + 13]);
        if (count < 0) count = n;
        if (n != count || seq < 1 || seq > n || chunks.contains(seq)) return QByteArray();
        chunks.insert(seq, d.mid(s.at + 14, s.length - 14));
    }
    if (count < 1 || chunks.size() != count) return QByteArray();
    QByteArray icc;
    for (const QByteArray& c : std::as_const(chunks))
        icc += c;
    return icc;
}

// The extended XMP packet whose digest is guid, from its chunks at the
// offsets they give; empty unless they cover it exactly and it is what the
// digest says.
QByteArray JpegExtendedXmp(const QByteArray& d, const QList<Segment>& segments,
                           const QByteArray& guid) {
    constexpr qsizetype kHeader = 35 + 32 + 4 + 4;
    QByteArray packet;
    qint64 covered = 0;
    for (const Segment& s : segments) {
        if (s.marker != 0xE1 || s.length <= kHeader ||
            d.mid(s.at, kExtendedXmpSignature.size()) != kExtendedXmpSignature ||
            d.mid(s.at + 35, 32) != guid)
            continue;
        const quint32 full = BigEndian32(d.constData() + s.at + 67);
        const quint32 offset = BigEndian32(d.constData() + s.at + 71);
        const qsizetype length = s.length - kHeader;
        // A packet is never larger than the file that holds it.
        if (full > static_cast<quint32>(d.size()) || qint64(offset) + length > full) return {};
        if (packet.isEmpty()) packet = QByteArray(static_cast<qsizetype>(full), '\0');
        if (packet.size() != static_cast<qsizetype>(full)) return {};
        memcpy(packet.data() + offset, d.constData() + s.at + kHeader, static_cast<size_t>(length));
        covered += length;
    }
    if (packet.isEmpty() || covered != packet.size()) return {};
    const QByteArray digest = QCryptographicHash::hash(packet, QCryptographicHash::Md5).toHex();
    return digest.compare(guid, Qt::CaseInsensitive) == 0 ? packet : QByteArray();
}

// The digest that names a JPEG's extended XMP, if its main XMP has one. By
// the keys' text: a key of a namespace Exiv2 has not met would throw.
QByteArray ExtendedXmpGuid(const Exiv2::XmpData& xmp) {
    for (const Exiv2::Xmpdatum& d : xmp) {
        if (d.key() == "Xmp.xmpNote.HasExtendedXMP")
            return QByteArray::fromStdString(d.toString()).trimmed();
    }
    return QByteArray();
}

// The extended packet's properties in the main XMP, for a format whose
// XMP has no size limit (all but JPEG).
void MergeExtendedXmp(Exiv2::XmpData& xmp, const QByteArray& packet) {
    if (packet.isEmpty()) return;
    Exiv2::XmpData extended;
    if (Exiv2::XmpParser::decode(extended, packet.toStdString()) != 0) return;
    for (const Exiv2::Xmpdatum& datum : extended)
        xmp.add(datum);
    for (auto it = xmp.begin(); it != xmp.end();)
        it = it->key() == "Xmp.xmpNote.HasExtendedXMP" ? xmp.erase(it) : it + 1;
}

// The extended packet in APP1 segments after the JPEG's main XMP segment:
// each with the digest, the packet's whole length and the chunk's offset,
// the layout Adobe's XMP readers look for.
void InsertExtendedXmp(QByteArray* file, const QByteArray& packet, const QByteArray& guid) {
    if (guid.size() != 32) return;
    const QList<Segment> segments = JpegSegments(*file);
    qsizetype after = -1;
    for (const Segment& s : segments) {
        if (s.marker == 0xE1 && file->mid(s.at, kXmpSignature.size()) == kXmpSignature)
            after = s.at + s.length;
    }
    if (after < 0) return;  // no main packet to name the extension
    constexpr qsizetype kChunk = 65400;
    QByteArray inserted;
    for (qsizetype offset = 0; offset < packet.size(); offset += kChunk) {
        const QByteArray part = packet.mid(offset, kChunk);
        QByteArray seg = kExtendedXmpSignature + guid;
        seg += BigEndianBytes(static_cast<quint32>(packet.size()));
        seg += BigEndianBytes(static_cast<quint32>(offset));
        seg += part;
        // The marker, then the segment's length (the two length bytes count).
        inserted += BigEndianBytes(0xFFE10000u | static_cast<quint32>(seg.size() + 2));
        inserted += seg;
    }
    file->insert(after, inserted);
}

quint32 Crc32(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<uchar>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// EXIF where PNG readers look for it: an eXIf chunk of TIFF-ordered bytes
// before the image data (the text chunk Exiv2 writes is read by few).
// Inserts a chunk into a PNG after IHDR, before the first chunk of those
// named (each four letters; none: right after IHDR).
void InsertPngChunk(QByteArray* file, const char* type, const QByteArray& data,
                    std::initializer_list<const char*> before) {
    const QByteArray body = QByteArray(type, 4) + data;
    const QByteArray chunk =
        BigEndianBytes(static_cast<quint32>(data.size())) + body + BigEndianBytes(Crc32(body));
    qsizetype i = 8;
    for (bool first = true; i + 8 <= file->size(); first = false) {
        const QByteArray here = file->mid(i + 4, 4);
        bool stop = !first && before.size() == 0;
        for (const char* b : before)
            stop = stop || here == b;
        if (stop) break;
        i += 12 + static_cast<qsizetype>(BigEndian32(file->constData() + i));
    }
    if (i + 8 <= file->size()) file->insert(i, chunk);
}

void InsertPngExif(QByteArray* file, const Exiv2::ExifData& exif) {
    if (exif.empty()) return;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    if (blob.empty()) return;
    InsertPngChunk(
        file, "eXIf",
        QByteArray(reinterpret_cast<const char*>(blob.data()), static_cast<qsizetype>(blob.size())),
        {"IDAT"});
}

// A PNG's profile: named, as the format requires (Exiv2 leaves the name of
// one it adds empty, which readers refuse), zlib-compressed, before the
// palette and the image data: right after IHDR, where Exiv2 put it.
void InsertPngIcc(QByteArray* file, const QByteArray& icc) {
    if (icc.isEmpty()) return;
    const QByteArray zlib = qCompress(icc).mid(4);  // without Qt's length prefix
    InsertPngChunk(file, "iCCP", QByteArray("ICC Profile\0\0", 13) + zlib, {});
}

}  // namespace

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

namespace {

quint32 BigEndianAt(const QByteArray& d, qsizetype at) {
    return static_cast<quint32>(static_cast<uchar>(d[at])) << 24 |
           static_cast<quint32>(static_cast<uchar>(d[at + 1])) << 16 |
           static_cast<quint32>(static_cast<uchar>(d[at + 2])) << 8 |
           static_cast<quint32>(static_cast<uchar>(d[at + 3]));
}

// C2PA's UUID for its box in ISO media files.
const QByteArray kC2paUuid = QByteArray::fromHex("d8fec3d61b0e483c92975828877ec481");

// Top-level boxes of an ISO media file or a JPEG XL container.
bool BoxesHoldCredentials(const QByteArray& d) {
    qsizetype at = 0;
    while (at + 8 <= d.size()) {
        qint64 size = BigEndianAt(d, at);
        const QByteArray type = d.mid(at + 4, 4);
        qsizetype header = 8;
        if (size == 1) {
            if (at + 16 > d.size()) return false;
            size = static_cast<qint64>(BigEndianAt(d, at + 8)) << 32 | BigEndianAt(d, at + 12);
            header = 16;
        } else if (size == 0) {
            size = d.size() - at;
        }
        if (size < header || size > d.size() - at) return false;
        if (type == "uuid" && d.mid(at + header, 16) == kC2paUuid) return true;
        if (type == "jumb" && d.mid(at + header, size - header).contains("c2pa")) return true;
        at += size;
    }
    return false;
}

}  // namespace

bool HasContentCredentials(const QByteArray& d) {
    if (d.startsWith("\xFF\xD8")) {
        for (const Segment& s : JpegSegments(d)) {
            if (s.marker != 0xEB) continue;
            const QByteArray payload = d.mid(s.at, s.length);
            if (payload.startsWith("JP") && payload.contains("jumb") && payload.contains("c2pa"))
                return true;
        }
        return false;
    }
    if (d.startsWith("\x89PNG\r\n\x1a\n")) {
        for (qsizetype at = 8; at + 12 <= d.size();) {
            const quint32 length = BigEndianAt(d, at);
            if (d.mid(at + 4, 4) == "caBX") return true;
            if (length > static_cast<quint64>(d.size() - at - 12)) return false;
            at += 12 + static_cast<qsizetype>(length);
        }
        return false;
    }
    if (d.startsWith("RIFF") && d.mid(8, 4) == "WEBP") {
        for (qsizetype at = 12; at + 8 <= d.size();) {
            const quint32 length = qFromLittleEndian<quint32>(d.constData() + at + 4);
            if (d.mid(at, 4) == "C2PA") return true;
            if (length > static_cast<quint64>(d.size() - at - 8)) return false;
            at += 8 + static_cast<qsizetype>(length) + (length & 1);
        }
        return false;
    }
    if (d.mid(4, 4) == "ftyp" || d.startsWith(QByteArray("\0\0\0\x0cJXL \r\n\x87\n", 12)))
        return BoxesHoldCredentials(d);
    return false;
}

void InitializeMetadata() {
    static std::recursive_mutex xmpMutex;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize(XmpLock, &xmpMutex);
}

MetadataPtr MetadataFromBlocks(const QByteArray& exif, const QByteArray& xmp,
                               const QByteArray& icc) {
    auto m = std::make_shared<PhotoMetadata>();
    try {
        if (!exif.isEmpty())
            Exiv2::ExifParser::decode(m->exif,
                                      reinterpret_cast<const Exiv2::byte*>(exif.constData()),
                                      static_cast<uint32_t>(exif.size()));
    } catch (const std::exception&) {
        m->exif.clear();
    }
    try {
        if (!xmp.isEmpty() && Exiv2::XmpParser::decode(m->xmp, xmp.toStdString()) != 0)
            m->xmp.clear();
    } catch (const std::exception&) {
        m->xmp.clear();
    }
    m->icc = icc;
    if (m->exif.empty() && m->xmp.empty() && m->icc.isEmpty()) return nullptr;
    return m;
}

MetadataPtr ReadMetadata(const QByteArray& file, int* orientation) {
    *orientation = 1;
    // A JPEG's profile chunks and extended XMP are read here, by their own
    // numbers and offsets; Exiv2 gives up on the whole file for chunks out
    // of order, and knows no extended XMP. It reads the rest without them.
    const QList<Segment> segments = JpegSegments(file);
    // Exiv2 reads no further than a JPEG's segments before its picture
    // data: only they are handed to it, an end marker put after them.
    QByteArray rest;
    if (!segments.isEmpty())
        rest = file.left(segments.last().at + segments.last().length) + "\xFF\xD9";
    for (const Segment& s : segments) {
        const bool ours = (s.marker == 0xE2 && file.mid(s.at, 12) == kIccSignature) ||
                          (s.marker == 0xE1 && file.mid(s.at, 35) == kExtendedXmpSignature);
        // Overwritten in place by a comment segment of the same length.
        if (ours) rest[s.at - 3] = char(0xFE);
    }
    const QByteArray& forExiv2 = rest.isEmpty() ? file : rest;
    try {
        auto image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(forExiv2.constData()),
                                      static_cast<long>(forExiv2.size()));
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
        if (!segments.isEmpty()) {
            m->icc = JpegIccProfile(file, segments);
            if (const QByteArray guid = ExtendedXmpGuid(m->xmp); !guid.isEmpty())
                m->extendedXmp = JpegExtendedXmp(file, segments, guid);
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

namespace {

// WebP's metadata chunks through libwebp's own muxer: Exiv2 0.27 writes a
// colour profile into a WebP under the wrong chunk name, which leaves a
// file no reader opens.
Status MuxWebpMetadata(QByteArray* file, const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp,
                       const QByteArray& icc) {
    const WebPData bitstream{reinterpret_cast<const uint8_t*>(file->constData()),
                             static_cast<size_t>(file->size())};
    std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxCreate(&bitstream, 1), WebPMuxDelete);
    if (!mux) return Status::Error(ErrorCode::WriteFailed, QStringLiteral("WebP metadata"));
    Exiv2::Blob exifBytes;
    if (!exif.empty()) Exiv2::ExifParser::encode(exifBytes, Exiv2::littleEndian, exif);
    std::string xmpPacket;
    if (!xmp.empty()) Exiv2::XmpParser::encode(xmpPacket, xmp, Exiv2::XmpParser::useCompactFormat);
    const std::pair<const char*, WebPData> chunks[] = {
        {"ICCP",
         {reinterpret_cast<const uint8_t*>(icc.constData()), static_cast<size_t>(icc.size())}},
        {"EXIF", {exifBytes.data(), exifBytes.size()}},
        {"XMP ", {reinterpret_cast<const uint8_t*>(xmpPacket.data()), xmpPacket.size()}},
    };
    for (const auto& [name, data] : chunks) {
        if (data.size > 0 && WebPMuxSetChunk(mux.get(), name, &data, 1) != WEBP_MUX_OK)
            return Status::Error(ErrorCode::WriteFailed, QStringLiteral("WebP metadata"));
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
        WebPDataClear(&assembled);
        return Status::Error(ErrorCode::WriteFailed, QStringLiteral("WebP metadata"));
    }
    *file = QByteArray(reinterpret_cast<const char*>(assembled.bytes),
                       static_cast<qsizetype>(assembled.size));
    WebPDataClear(&assembled);
    return Status::Ok();
}

}  // namespace

namespace {

// The source's EXIF and XMP made true for a new file of width x height:
// orientation 1 (unless the pixels keep their stored frame), the new pixel
// dimensions, no thumbnail of the old pixels. tiff: for a TIFF container,
// whose readers take the dimensions as LONG only and know no
// interoperability directory (a JPEG's EXIF has one).
void MakeTrue(const PhotoMetadata& m, int width, int height, bool keepOrientation, bool tiff,
              Exiv2::ExifData* exifOut, Exiv2::XmpData* xmpOut) {
    Exiv2::ExifData& exif = *exifOut;
    exif = m.exif;
    Exiv2::ExifThumb(exif).erase();
    auto setIfPresent = [&exif](const char* key, uint32_t value) {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        if (it != exif.end()) it->setValue(std::to_string(value));
    };
    if (!exif.empty() && !keepOrientation)
        exif["Exif.Image.Orientation"] = static_cast<uint16_t>(1);
    if (tiff) {
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

    Exiv2::XmpData& xmp = *xmpOut;
    xmp = m.xmp;
    auto setXmp = [&xmp](const char* key, int value) {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        if (it != xmp.end()) it->setValue(std::to_string(value));
    };
    if (!keepOrientation) setXmp("Xmp.tiff.Orientation", 1);
    setXmp("Xmp.exif.PixelXDimension", width);
    setXmp("Xmp.exif.PixelYDimension", height);
}

}  // namespace

MetadataBlocks MetadataBlocksFor(const PhotoMetadata& m, int width, int height) {
    MetadataBlocks blocks;
    blocks.icc = m.icc;
    try {
        Exiv2::ExifData exif;
        Exiv2::XmpData xmp;
        MakeTrue(m, width, height, false, false, &exif, &xmp);
        MergeExtendedXmp(xmp, m.extendedXmp);
        // These containers have no place for IPTC: its values go into the
        // XMP, where IPTC's own standard mirrors them, unless the XMP
        // already has them.
        if (!m.iptc.empty()) {
            Exiv2::XmpData fromIptc;
            Exiv2::copyIptcToXmp(m.iptc, fromIptc);
            for (const Exiv2::Xmpdatum& d : fromIptc)
                if (xmp.findKey(Exiv2::XmpKey(d.key())) == xmp.end()) xmp.add(d);
        }
        if (!exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, exif);
            blocks.exif = QByteArray(reinterpret_cast<const char*>(blob.data()),
                                     static_cast<qsizetype>(blob.size()));
        }
        std::string packet;
        if (!xmp.empty() &&
            Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) == 0)
            blocks.xmp = QByteArray::fromStdString(packet);
    } catch (const std::exception&) {
        // Damaged metadata never costs the picture: what was made is kept.
    }
    return blocks;
}

Status EmbedMetadata(QByteArray* file, const PhotoMetadata& m, int width, int height,
                     bool keepOrientation) {
    try {
        auto image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file->constData()),
                                      static_cast<long>(file->size()));
        if (!image.get()) return Status::Error(ErrorCode::WriteFailed, QStringLiteral("metadata"));
        image->readMetadata();

        Exiv2::ExifData exif;
        Exiv2::XmpData xmp;
        MakeTrue(m, width, height, keepOrientation, image->imageType() == Exiv2::ImageType::tiff,
                 &exif, &xmp);

        const auto type = image->imageType();
        if (type != Exiv2::ImageType::jpeg) MergeExtendedXmp(xmp, m.extendedXmp);
        if (type == Exiv2::ImageType::webp) return MuxWebpMetadata(file, exif, xmp, m.icc);
        // PNG's EXIF is written below, in its own chunk.
        image->setExifData(type == Exiv2::ImageType::png ? Exiv2::ExifData() : exif);
        image->setIptcData(m.iptc);
        image->setXmpData(xmp);
        if (!m.icc.isEmpty() && type != Exiv2::ImageType::png) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(m.icc.constData()),
                               static_cast<long>(m.icc.size()));
            image->setIccProfile(icc, false);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
        *file = QByteArray(reinterpret_cast<const char*>(written.pData_), written.size_);
        if (type == Exiv2::ImageType::png) {
            InsertPngIcc(file, m.icc);
            InsertPngExif(file, exif);
        }
        if (type == Exiv2::ImageType::jpeg && !m.extendedXmp.isEmpty())
            InsertExtendedXmp(file, m.extendedXmp, ExtendedXmpGuid(xmp));
        return Status::Ok();
    } catch (const std::exception& e) {
        return Status::Error(ErrorCode::WriteFailed, QString::fromLocal8Bit(e.what()));
    }
}

}  // namespace velda

#pragma GCC diagnostic pop
