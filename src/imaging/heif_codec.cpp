// HEIF pictures through libheif: HEIC (HEVC, decoded by libde265, encoded
// by x265) and AVIF (AV1, decoded by dav1d or aom, encoded by aom). The
// primary picture is read, its rotation and mirroring applied by libheif,
// alpha kept, 10- and 12-bit samples brought to 8. Written at 8 bits with
// the metadata in libheif's own boxes.
#include <libheif/heif.h>

#include <QtEndian>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "imaging/codec.h"
#include "imaging/format_rows.h"

namespace velda {

namespace {

// The brands an ISO base media file lists in its "ftyp" box.
QList<QByteArray> Brands(const QByteArray& d) {
    QList<QByteArray> brands;
    if (d.size() < 16 || d.mid(4, 4) != "ftyp") return brands;
    const qint64 box = qFromBigEndian<quint32>(d.constData());
    const qsizetype end = static_cast<qsizetype>(std::min<qint64>(box, d.size()));
    brands.append(d.mid(8, 4));  // the major brand
    for (qsizetype at = 16; at + 4 <= end; at += 4)
        brands.append(d.mid(at, 4));
    return brands;
}

bool IsHeic(const QByteArray& d) {
    for (const QByteArray& b : Brands(d))
        if (b == "heic" || b == "heix" || b == "heim" || b == "heis" || b == "hevc" || b == "hevx")
            return true;
    return false;
}

bool IsAvif(const QByteArray& d) {
    const QList<QByteArray> brands = Brands(d);
    return !IsHeic(d) && (brands.contains("avif") || brands.contains("avis"));
}

Status Failed(const heif_error& e, const char* what) {
    return Status::Error(
        ErrorCode::CorruptData,
        QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(e.message)));
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct EncoderFree {
    void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
struct OptionsFree {
    void operator()(heif_encoding_options* o) const { heif_encoding_options_free(o); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

// The file's primary picture; the data must outlive the context.
Status Open(const QByteArray& d, const char* what, Context* context, Handle* handle) {
    context->reset(heif_context_alloc());
    if (!*context) return Status::Error(ErrorCode::OutOfMemory);
    heif_error e = heif_context_read_from_memory_without_copy(context->get(), d.constData(),
                                                              d.size(), nullptr);
    if (e.code != heif_error_Ok) return Failed(e, what);
    heif_image_handle* h = nullptr;
    e = heif_context_get_primary_image_handle(context->get(), &h);
    if (e.code != heif_error_Ok) return Failed(e, what);
    handle->reset(h);
    return Status::Ok();
}

Status Header(const QByteArray& d, const char* what, HeaderInfo* info) {
    Context context;
    Handle handle;
    if (Status s = Open(d, what, &context, &handle); !s.ok()) return s;
    // The size once turned as the file says, which is the size decoded.
    info->width = heif_image_handle_get_width(handle.get());
    info->height = heif_image_handle_get_height(handle.get());
    if (info->width <= 0 || info->height <= 0) return Status::Error(ErrorCode::CorruptData);
    info->depth = heif_image_handle_has_alpha_channel(handle.get()) ? 32 : 24;
    return Status::Ok();
}

Status Decode(const QByteArray& d, const char* what, const HeaderInfo& header, Picture* out) {
    Context context;
    Handle handle;
    if (Status s = Open(d, what, &context, &handle); !s.ok()) return s;
    const bool alpha = header.depth == 32;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* decoded = nullptr;
    const heif_error e =
        heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, chroma, nullptr);
    Image image(decoded);
    if (e.code != heif_error_Ok) return Failed(e, what);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (w != header.width || h != header.height)
        return Status::Error(ErrorCode::CorruptData,
                             QStringLiteral("picture size does not match its header"));
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane) return Status::Error(ErrorCode::CorruptData);
    const int bits =
        deep ? heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) : 8;
    const int channels = alpha ? 4 : 3;
    QImage result(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (result.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = plane + static_cast<qsizetype>(y) * stride;
        QRgb* t = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < w; ++x) {
            int c[4] = {0, 0, 0, 255};
            for (int i = 0; i < channels; ++i) {
                c[i] = deep ? (qFromLittleEndian<quint16>(s + 2 * (x * channels + i)) >> (bits - 8))
                            : s[x * channels + i];
            }
            t[x] = qRgba(c[0], c[1], c[2], c[3]);
        }
    }
    out->image =
        alpha && !HasTransparency(result) ? result.convertToFormat(QImage::Format_RGB32) : result;
    out->depth = out->image.format() == QImage::Format_ARGB32 ? 32 : 24;
    return Status::Ok();
}

// The file's EXIF, XMP and colour profile. libheif has turned the picture
// as the file says, so no orientation is left to apply.
MetadataPtr Metadata(const QByteArray& d, int* orientation) {
    *orientation = 1;
    Context context;
    Handle handle;
    if (!Open(d, "HEIF", &context, &handle).ok()) return nullptr;
    heif_image_handle* h = handle.get();
    auto block = [h](const char* type, const char* contentType) {
        const int n = heif_image_handle_get_number_of_metadata_blocks(h, type);
        std::vector<heif_item_id> ids(static_cast<size_t>(std::max(n, 0)));
        heif_image_handle_get_list_of_metadata_block_IDs(h, type, ids.data(), n);
        for (const heif_item_id id : ids) {
            if (contentType &&
                QByteArray(heif_image_handle_get_metadata_content_type(h, id)) != contentType)
                continue;
            QByteArray bytes(static_cast<qsizetype>(heif_image_handle_get_metadata_size(h, id)),
                             Qt::Uninitialized);
            if (heif_image_handle_get_metadata(h, id, bytes.data()).code == heif_error_Ok)
                return bytes;
        }
        return QByteArray();
    };
    QByteArray exif = block("Exif", nullptr);
    // HEIF's EXIF starts with the offset of its TIFF header.
    if (exif.size() >= 4) {
        const quint32 offset = qFromBigEndian<quint32>(exif.constData());
        exif =
            offset <= static_cast<quint32>(exif.size() - 4) ? exif.mid(4 + offset) : QByteArray();
    }
    const QByteArray xmp = block("mime", "application/rdf+xml");
    QByteArray icc;
    if (heif_image_handle_get_color_profile_type(h) == heif_color_profile_type_prof ||
        heif_image_handle_get_color_profile_type(h) == heif_color_profile_type_rICC) {
        icc.resize(static_cast<qsizetype>(heif_image_handle_get_raw_color_profile_size(h)));
        if (heif_image_handle_get_raw_color_profile(h, icc.data()).code != heif_error_Ok)
            icc.clear();
    }
    return MetadataFromBlocks(exif, xmp, icc);
}

Status WriteFailed(const heif_error& e, const char* what) {
    return Status::Error(
        ErrorCode::WriteFailed,
        QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(e.message)));
}

heif_error AppendTo(heif_context*, const void* data, size_t size, void* bytes) {
    static_cast<QByteArray*>(bytes)->append(static_cast<const char*>(data),
                                            static_cast<qsizetype>(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// The encoders' speed settings were chosen by measurement on 2048-pixel
// photographs, one core: x265's "ultrafast" takes a quarter of a second
// where "superfast" takes three times as long for files 3 % smaller at
// the qualities photographs are saved at; aom's speed 8 takes 0.3 to 0.4 s
// where its default 6 takes 0.8 to 0.9 s for 0.4 dB more at the same size.
Status EncodeHeif(const QImage& source, const EncodeOptions& o, heif_compression_format compression,
                  const char* what, QByteArray* out) {
    const bool alpha = source.hasAlphaChannel() && HasTransparency(source);
    const QImage image =
        source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    const int w = image.width(), h = image.height();

    Context context(heif_context_alloc());
    if (!context) return Status::Error(ErrorCode::OutOfMemory);
    heif_encoder* e = nullptr;
    heif_error err = heif_context_get_encoder_for_format(context.get(), compression, &e);
    std::unique_ptr<heif_encoder, EncoderFree> encoder(e);
    if (err.code != heif_error_Ok) return WriteFailed(err, what);
    heif_encoder_set_logging_level(encoder.get(), 0);
    heif_encoder_set_lossy_quality(encoder.get(), std::clamp(o.quality, 0, 100));
    const int threads = o.threads > 0
                            ? o.threads
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (compression == heif_compression_HEVC) {
        heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast");
        const std::string pools = std::to_string(threads);
        heif_encoder_set_parameter_string(encoder.get(), "x265:pools", pools.c_str());
    } else {
        heif_encoder_set_parameter_integer(encoder.get(), "speed", 8);
        heif_encoder_set_parameter_integer(encoder.get(), "threads", std::min(threads, 16));
    }

    heif_image* created = nullptr;
    err = heif_image_create(w, h, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            &created);
    Image picture(created);
    if (err.code != heif_error_Ok) return WriteFailed(err, what);
    err = heif_image_add_plane(picture.get(), heif_channel_interleaved, w, h, 8);
    if (err.code != heif_error_Ok) return WriteFailed(err, what);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
    if (!plane) return Status::Error(ErrorCode::OutOfMemory);
    const size_t row = static_cast<size_t>(w) * (alpha ? 4 : 3);
    for (int y = 0; y < h; ++y)
        std::memcpy(plane + static_cast<size_t>(y) * stride, image.constScanLine(y), row);
    const MetadataBlocks* m = o.metadata;
    if (m && !m->icc.isEmpty())
        heif_image_set_raw_color_profile(picture.get(), "prof", m->icc.constData(),
                                         static_cast<size_t>(m->icc.size()));

    std::unique_ptr<heif_encoding_options, OptionsFree> options(heif_encoding_options_alloc());
    options->save_alpha_channel = alpha;
    heif_image_handle* encoded = nullptr;
    err = heif_context_encode_image(context.get(), picture.get(), encoder.get(), options.get(),
                                    &encoded);
    Handle handle(encoded);
    if (err.code != heif_error_Ok) return WriteFailed(err, what);
    // Metadata that cannot be added does not cost the picture.
    if (m && !m->exif.isEmpty())
        heif_context_add_exif_metadata(context.get(), handle.get(), m->exif.constData(),
                                       static_cast<int>(m->exif.size()));
    if (m && !m->xmp.isEmpty())
        heif_context_add_XMP_metadata(context.get(), handle.get(), m->xmp.constData(),
                                      static_cast<int>(m->xmp.size()));
    out->clear();
    heif_writer writer{1, AppendTo};
    err = heif_context_write(context.get(), &writer, out);
    if (err.code != heif_error_Ok) return WriteFailed(err, what);
    return Status::Ok();
}

bool SniffHeic(const QByteArray& d, const QString&) {
    return IsHeic(d);
}
bool SniffAvif(const QByteArray& d, const QString&) {
    return IsAvif(d);
}
Status HeicHeader(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return Header(d, "HEIC", info);
}
Status AvifHeader(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return Header(d, "AVIF", info);
}
Status HeicDecode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return Decode(d, "HEIC", h, out);
}
Status AvifDecode(const QByteArray& d, const HeaderInfo& h, const DecodeOptions&, Picture* out) {
    return Decode(d, "AVIF", h, out);
}
Status HeicEncode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeHeif(image, o, heif_compression_HEVC, "HEIC", out);
}
Status AvifEncode(const QImage& image, const EncodeOptions& o, QByteArray* out) {
    return EncodeHeif(image, o, heif_compression_AV1, "AVIF", out);
}

}  // namespace

// libheif decodes into planes of its own (up to 16 bits a sample), turns
// them into interleaved RGB and we copy that into our picture.
const FormatInfo kHeicFormat = {
    .id = FormatId::Heic,
    .name = "heic",
    .title = "HEIC",
    .endings = ".heic .heif",
    .code = 12,
    .writeDepths = kWrites24,
    .takesQuality = true,
    .keepsAlpha = true,
    .holdsMetadata = true,
    .encoderWritesMetadata = true,
    .signature = Signature::Strong,
    .sniff = SniffHeic,
    .header = HeicHeader,
    .decode = HeicDecode,
    .encode = HeicEncode,
    .metadata = Metadata,
    .decodeBytesPerPixel = 16,
    // Our RGB copy, libheif's planes and x265's own (measured on 36 MP).
    .encodeBytesPerPixel = 22,
};

const FormatInfo kAvifFormat = {
    .id = FormatId::Avif,
    .name = "avif",
    .title = "AVIF",
    .endings = ".avif",
    .code = 13,
    .writeDepths = kWrites24,
    .takesQuality = true,
    .keepsAlpha = true,
    .holdsMetadata = true,
    .encoderWritesMetadata = true,
    .signature = Signature::Strong,
    .sniff = SniffAvif,
    .header = AvifHeader,
    .decode = AvifDecode,
    .encode = AvifEncode,
    .metadata = Metadata,
    .decodeBytesPerPixel = 16,
    // Our RGB copy, libheif's planes and aom's own (measured on 36 MP).
    .encodeBytesPerPixel = 28,
};

}  // namespace velda
