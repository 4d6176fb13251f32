// JPEG XL through libjxl: the first frame, turned as the file says (the
// decoder applies the orientation), alpha kept, 8 bits a sample.
#include <jxl/decode.h>

#include <memory>

#include "imaging/codec.h"
#include "imaging/format_rows.h"

namespace velda {

namespace {

struct DecoderFree {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
using Decoder = std::unique_ptr<JxlDecoder, DecoderFree>;

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
    const int events = JXL_DEC_BASIC_INFO | (out ? JXL_DEC_FULL_IMAGE : 0);
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

}  // namespace

const FormatInfo kJxlFormat = {
    .id = FormatId::Jxl,
    .name = "jxl",
    .title = "JPEG XL",
    .endings = ".jxl",
    .signature = Signature::Strong,
    .sniff = Sniff,
    .header = Header,
    .decode = Decode,
    // The decoder's own float planes, then our 8-bit copy.
    .decodeBytesPerPixel = 20,
};

}  // namespace velda
