// Feeds arbitrary bytes to one decoder through the picture buffer's loading
// path. Built once per format.
#include <QGuiApplication>

#include "fuzz_one.h"

namespace {

// The format of this build, and a name with its ending (Targa has no
// signature of its own).
constexpr velda::FormatId kKind = velda::FormatId::VELDA_FUZZ_KIND;
const char* kName = VELDA_FUZZ_NAME;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    velda::EnsureCodecsInitialized();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velda::fuzz::DecodeOneInput(kKind, QString::fromLatin1(kName), data, size);
    return 0;
}
