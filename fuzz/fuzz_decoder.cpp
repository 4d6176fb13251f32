// Feeds arbitrary bytes to one decoder through the picture buffer's loading
// path (signature, header checks, decoding, layout). Built once per format;
// inputs that sniff as another format are passed over so each target stays
// on its own decoder.
#include <QGuiApplication>

#include "imaging/codec.h"
#include "imaging/picture_io.h"

namespace {

#if defined(VELDA_FUZZ_JPEG)
constexpr velda::FileKind kKind = velda::FileKind::Jpeg;
const char* kName = "f.jpg";
#elif defined(VELDA_FUZZ_BMP)
constexpr velda::FileKind kKind = velda::FileKind::Bmp;
const char* kName = "f.bmp";
#elif defined(VELDA_FUZZ_PCX)
constexpr velda::FileKind kKind = velda::FileKind::Pcx;
const char* kName = "f.pcx";
#elif defined(VELDA_FUZZ_PNG)
constexpr velda::FileKind kKind = velda::FileKind::Png;
const char* kName = "f.png";
#elif defined(VELDA_FUZZ_TIFF)
constexpr velda::FileKind kKind = velda::FileKind::Tiff;
const char* kName = "f.tif";
#elif defined(VELDA_FUZZ_TARGA)
constexpr velda::FileKind kKind = velda::FileKind::Targa;
const char* kName = "f.tga";
#elif defined(VELDA_FUZZ_GIF)
constexpr velda::FileKind kKind = velda::FileKind::Gif;
const char* kName = "f.gif";
#elif defined(VELDA_FUZZ_PHOTOCD)
constexpr velda::FileKind kKind = velda::FileKind::PhotoCd;
const char* kName = "f.pcd";
#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    velda::EnsureCodecsInitialized();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString name = QString::fromLatin1(kName);
    if (velda::SniffKind(bytes, name) != kKind) return 0;
    velda::Picture picture;
    velda::DecodePicture(bytes, name, 1 + static_cast<int>(size % 3), &picture);
    return 0;
}
