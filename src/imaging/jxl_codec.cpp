// JPEG XL through libjxl: the first frame, turned as the file says (the
// decoder applies the orientation), alpha kept, 8 bits a sample. Written
// lossy in the XYB space at a distance from the quality, or losslessly at
// quality 100; EXIF and XMP in their own boxes.
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <QtEndian>
#include <cmath>
#include <memory>
#include <thread>

#include "imaging/codec.h"
#include "imaging/format_rows.h"

namespace velda {

namespace {

struct DecoderFree {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct EncoderFree {
    void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); }
};
struct RunnerFree {
    void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); }
};
using Decoder = std::unique_ptr<JxlDecoder, DecoderFree>;
using Encoder = std::unique_ptr<JxlEncoder, EncoderFree>;
using Runner = std::unique_ptr<void, RunnerFree>;

bool Sniff(const QByteArray& d, const QString&) {
    const JxlSignature s = JxlSignatureCheck(reinterpret_cast<const uint8_t*>(d.constData()),
                                             static_cast<size_t>(d.size()));
    return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

Status Corrupt(const char* what) {
    return Status::Error(ErrorCode::CorruptData,
                         QStringLiteral("JPEG XL %1").arg(QLatin1String(what)));
}

// Runs the decoder over the whole file, up to the basic information or the
// whole picture (into out, when given).
Status Run(const QByteArray& d, HeaderInfo* info, QImage* out) {
    Decoder dec(JxlDecoderCreate(nullptr));
    if (!dec) return Status::Error(ErrorCode::OutOfMemory);
    const int events = JXL_DEC_BASIC_INFO | (out ? JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE : 0);
    if (JxlDecoderSubscribeEvents(dec.get(), events) != JXL_DEC_SUCCESS)
        return Status::Error(ErrorCode::OutOfMemory);
    if (JxlDecoderSetInput(dec.get(), reinterpret_cast<const uint8_t*>(d.constData()),
                           static_cast<size_t>(d.size())) != JXL_DEC_SUCCESS)
        return Corrupt("data is not valid");
    JxlDecoderCloseInput(dec.get());
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    QImage rgba;
    for (;;) {
        switch (JxlDecoderProcessInput(dec.get())) {
            case JXL_DEC_BASIC_INFO: {
                JxlBasicInfo basic;
                if (JxlDecoderGetBasicInfo(dec.get(), &basic) != JXL_DEC_SUCCESS)
                    return Corrupt("header is not valid");
                if (basic.xsize == 0 || basic.ysize == 0 || basic.xsize > INT32_MAX ||
                    basic.ysize > INT32_MAX)
                    return Corrupt("header is not valid");
                // The size as seen, once the decoder has turned it.
                const bool turned = basic.orientation >= JXL_ORIENT_TRANSPOSE;
                info->width = static_cast<int>(turned ? basic.ysize : basic.xsize);
                info->height = static_cast<int>(turned ? basic.xsize : basic.ysize);
                info->depth = basic.alpha_bits > 0 ? 32 : 24;
                if (!out) return Status::Ok();
                // The caller has checked the size against the limits.
                break;
            }
            case JXL_DEC_COLOR_ENCODING: {
                // A picture coded in XYB with a profile of its own would
                // otherwise come out in linear light: it is asked for in
                // sRGB, which the metadata then says by carrying no profile.
                JxlColorEncoding srgb;
                JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
                JxlDecoderSetPreferredColorProfile(dec.get(), &srgb);
                break;
            }
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                size_t bytes = 0;
                if (JxlDecoderImageOutBufferSize(dec.get(), &format, &bytes) != JXL_DEC_SUCCESS)
                    return Corrupt("data is not valid");
                rgba = QImage(info->width, info->height, QImage::Format_RGBA8888);
                if (rgba.isNull()) return Status::Error(ErrorCode::OutOfMemory);
                if (static_cast<size_t>(rgba.sizeInBytes()) < bytes ||
                    rgba.bytesPerLine() != 4 * info->width)
                    return Corrupt("data is not valid");
                if (JxlDecoderSetImageOutBuffer(dec.get(), &format, rgba.bits(), bytes) !=
                    JXL_DEC_SUCCESS)
                    return Corrupt("data is not valid");
                break;
            }
            case JXL_DEC_FULL_IMAGE: {
                // The first frame is the picture.
                const bool alpha = info->depth == 32 && HasTransparency(rgba);
                *out = rgba.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
                if (out->isNull()) return Status::Error(ErrorCode::OutOfMemory);
                return Status::Ok();
            }
            case JXL_DEC_NEED_MORE_INPUT:
                return Status::Error(ErrorCode::CorruptData,
                                     QStringLiteral("the file is cut short"));
            case JXL_DEC_SUCCESS:
                return Corrupt("file holds no picture");
            default:
                return Corrupt("data is damaged");
        }
    }
}

Status Header(const QByteArray& d, const DecodeOptions&, HeaderInfo* info) {
    return Run(d, info, nullptr);
}

Status Decode(const QByteArray& d, const HeaderInfo& header, const DecodeOptions&, Picture* out) {
    HeaderInfo info = header;
    QImage image;
    if (Status s = Run(d, &info, &image); !s.ok()) return s;
    out->image = std::move(image);
    out->depth = out->image.format() == QImage::Format_ARGB32 ? 32 : 24;
    return Status::Ok();
}

// The file's EXIF and XMP boxes (decompressed) and the colour profile of
// the decoded pixels.
MetadataPtr Metadata(const QByteArray& d, int* orientation) {
    *orientation = 1;  // the decoder turns the picture itself
    Decoder dec(JxlDecoderCreate(nullptr));
    if (!dec ||
        JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                 JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
        JxlDecoderSetDecompressBoxes(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec.get(), reinterpret_cast<const uint8_t*>(d.constData()),
                           static_cast<size_t>(d.size())) != JXL_DEC_SUCCESS) {
        return nullptr;
    }
    JxlDecoderCloseInput(dec.get());
    // No box is taken beyond this: a hostile file cannot make us hold more.
    constexpr qsizetype kMaxBox = 64 << 20;
    bool original = false;
    QByteArray exif, xmp, icc, box, *into = nullptr;
    auto finishBox = [&] {
        if (!into) return;
        box.chop(static_cast<qsizetype>(JxlDecoderReleaseBoxBuffer(dec.get())));
        *into = box;
        into = nullptr;
    };
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo basic;
            if (JxlDecoderGetBasicInfo(dec.get(), &basic) == JXL_DEC_SUCCESS)
                original = basic.uses_original_profile;
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            // Only a profile the decoded pixels are in is kept (see the
            // decoder: XYB pictures come out in sRGB).
            JxlColorEncoding encoded;
            size_t size = 0;
            if (original &&
                JxlDecoderGetColorAsEncodedProfile(dec.get(), nullptr,
                                                   JXL_COLOR_PROFILE_TARGET_DATA,
                                                   &encoded) != JXL_DEC_SUCCESS &&
                JxlDecoderGetICCProfileSize(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                            &size) == JXL_DEC_SUCCESS &&
                size <= static_cast<size_t>(kMaxBox)) {
                icc.resize(static_cast<qsizetype>(size));
                if (JxlDecoderGetColorAsICCProfile(
                        dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                        reinterpret_cast<uint8_t*>(icc.data()), size) != JXL_DEC_SUCCESS)
                    icc.clear();
            }
        } else if (status == JXL_DEC_BOX) {
            finishBox();
            JxlBoxType type;
            if (JxlDecoderGetBoxType(dec.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) break;
            const QByteArray name(type, 4);
            into = name == "Exif" ? &exif : name == "xml " ? &xmp : nullptr;
            if (into) {
                box = QByteArray(64 << 10, Qt::Uninitialized);
                JxlDecoderSetBoxBuffer(dec.get(), reinterpret_cast<uint8_t*>(box.data()),
                                       static_cast<size_t>(box.size()));
            }
        } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && into) {
            const size_t left = JxlDecoderReleaseBoxBuffer(dec.get());
            const qsizetype used = box.size() - static_cast<qsizetype>(left);
            if (box.size() >= kMaxBox) {
                into = nullptr;  // dropped: far beyond any real metadata
                continue;
            }
            box.resize(box.size() * 2);
            JxlDecoderSetBoxBuffer(dec.get(), reinterpret_cast<uint8_t*>(box.data()) + used,
                                   static_cast<size_t>(box.size() - used));
        } else {
            // The end, or damage: what was read so far is kept.
            finishBox();
            break;
        }
    }
    if (exif.size() >= 4) {
        const quint32 offset = qFromBigEndian<quint32>(exif.constData());
        exif =
            offset <= static_cast<quint32>(exif.size() - 4) ? exif.mid(4 + offset) : QByteArray();
    }
    return MetadataFromBlocks(exif, xmp, icc);
}

// cjxl's mapping of a JPEG-like quality to a Butteraugli distance, so that
// a quality means here what it means there.
float DistanceFor(int quality) {
    if (quality >= 30) return 0.1f + static_cast<float>(100 - quality) * 0.09f;
    return 6.4f + std::pow(2.5f, static_cast<float>(30 - quality) / 5.0f) / 6.25f;
}

Status EncodeFailed() {
    return Status::Error(ErrorCode::WriteFailed, QStringLiteral("JPEG XL encoder failed"));
}

// Efforts chosen by measurement on 2048-pixel photographs, one core:
// effort 3 is as small as 4 and a third faster than the default 7, whose
// files are no smaller at the same PSNR; lossless effort 2 takes a
// quarter of a second for files 35 % smaller than PNG's.
Status Encode(const QImage& source, const EncodeOptions& o, QByteArray* out) {
    const bool alpha = source.hasAlphaChannel() && HasTransparency(source);
    const QImage image =
        source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    const bool lossless = o.lossless || o.quality >= 100;
    Encoder enc(JxlEncoderCreate(nullptr));
    const size_t threads = o.threads > 0 ? static_cast<size_t>(o.threads)
                                         : std::max(1u, std::thread::hardware_concurrency());
    Runner runner(threads > 1 ? JxlThreadParallelRunnerCreate(nullptr, threads) : nullptr);
    if (!enc || (threads > 1 && !runner)) return Status::Error(ErrorCode::OutOfMemory);
    if (runner && JxlEncoderSetParallelRunner(enc.get(), JxlThreadParallelRunner, runner.get()) !=
                      JXL_ENC_SUCCESS)
        return EncodeFailed();
    const MetadataBlocks* m = o.metadata;
    const bool boxes = m && (!m->exif.isEmpty() || !m->xmp.isEmpty());
    if (boxes && JxlEncoderUseBoxes(enc.get()) != JXL_ENC_SUCCESS) return EncodeFailed();

    JxlBasicInfo basic;
    JxlEncoderInitBasicInfo(&basic);
    basic.xsize = static_cast<uint32_t>(image.width());
    basic.ysize = static_cast<uint32_t>(image.height());
    basic.bits_per_sample = 8;
    basic.num_color_channels = 3;
    basic.num_extra_channels = alpha ? 1 : 0;
    basic.alpha_bits = alpha ? 8 : 0;
    basic.uses_original_profile = lossless;
    if (JxlEncoderSetBasicInfo(enc.get(), &basic) != JXL_ENC_SUCCESS) return EncodeFailed();
    bool coloured = false;
    if (m && !m->icc.isEmpty())
        coloured =
            JxlEncoderSetICCProfile(enc.get(), reinterpret_cast<const uint8_t*>(m->icc.constData()),
                                    static_cast<size_t>(m->icc.size())) == JXL_ENC_SUCCESS;
    if (!coloured) {
        JxlColorEncoding srgb;
        JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
        if (JxlEncoderSetColorEncoding(enc.get(), &srgb) != JXL_ENC_SUCCESS) return EncodeFailed();
    }

    JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
    if (!frame) return EncodeFailed();
    if (lossless) {
        if (JxlEncoderSetFrameLossless(frame, JXL_TRUE) != JXL_ENC_SUCCESS ||
            JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, 2) !=
                JXL_ENC_SUCCESS)
            return EncodeFailed();
    } else if (JxlEncoderSetFrameDistance(frame, DistanceFor(std::clamp(o.quality, 0, 99))) !=
                   JXL_ENC_SUCCESS ||
               JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, 3) !=
                   JXL_ENC_SUCCESS) {
        return EncodeFailed();
    }
    const JxlPixelFormat format = {alpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                   static_cast<size_t>(image.bytesPerLine())};
    if (JxlEncoderAddImageFrame(frame, &format, image.constBits(),
                                static_cast<size_t>(image.sizeInBytes())) != JXL_ENC_SUCCESS)
        return EncodeFailed();
    if (boxes) {
        // EXIF's box starts with the offset of its TIFF header: none here.
        // Metadata that cannot be added does not cost the picture.
        if (!m->exif.isEmpty()) {
            const QByteArray exif = QByteArray(4, '\0') + m->exif;
            JxlEncoderAddBox(enc.get(), "Exif", reinterpret_cast<const uint8_t*>(exif.constData()),
                             static_cast<size_t>(exif.size()), JXL_FALSE);
        }
        if (!m->xmp.isEmpty())
            JxlEncoderAddBox(enc.get(), "xml ",
                             reinterpret_cast<const uint8_t*>(m->xmp.constData()),
                             static_cast<size_t>(m->xmp.size()), JXL_FALSE);
    }
    JxlEncoderCloseInput(enc.get());

    out->resize(std::max<qsizetype>(64 << 10, image.sizeInBytes() / 8));
    qsizetype used = 0;
    for (;;) {
        uint8_t* next = reinterpret_cast<uint8_t*>(out->data()) + used;
        size_t avail = static_cast<size_t>(out->size() - used);
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.get(), &next, &avail);
        used = out->size() - static_cast<qsizetype>(avail);
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) return EncodeFailed();
        out->resize(out->size() * 2);
    }
    out->resize(used);
    return Status::Ok();
}

}  // namespace

const FormatInfo kJxlFormat = {
    .id = FormatId::Jxl,
    .name = "jxl",
    .title = "JPEG XL",
    .endings = ".jxl",
    .code = 14,
    .writeDepths = kWrites24,
    .takesQuality = true,
    .keepsAlpha = true,
    .holdsMetadata = true,
    .encoderWritesMetadata = true,
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    .encode = Encode,
    .metadata = Metadata,
    // The decoder's own float planes, then our 8-bit copy.
    .decodeBytesPerPixel = 20,
    // The encoder's float planes (measured on 36 MP), more when lossless.
    .encodeBytesPerPixel = 44,
    .losslessEncodeBytesPerPixel = 66,
    .losslessAtTop = true,
};

}  // namespace velda
