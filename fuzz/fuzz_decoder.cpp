// Feeds arbitrary bytes to one decoder through the picture buffer's loading
// path (signature, header checks, decoding, layout). Built once per format;
// inputs that sniff as another format are passed over so each target stays
// on its own decoder.
#include <QGuiApplication>

#include "imaging/codec.h"
#include "imaging/picture_io.h"

namespace {

// The format of this build, and a name with its ending (Targa has no
// signature of its own).
constexpr velda::FileKind kKind = velda::FileKind::VELDA_FUZZ_KIND;
const char* kName = VELDA_FUZZ_NAME;

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
