#include <Magick++.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <mutex>

#include "imaging/codec.h"

namespace velda {

namespace {

QString ProgramDir() {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
}

}  // namespace

void EnsureCodecsInitialized() {
    static std::once_flag once;
    std::call_once(once, [] {
        const QString dir = ProgramDir();
        // Debian's own policy caps ImageMagick at 256 MiB and spills large
        // pictures to disk; ours, shipped beside the program, fits
        // 24-megapixel photographs and allows only the coders we use.
        const QString policyDir = dir + QStringLiteral("/magick");
        if (QFileInfo::exists(policyDir + QStringLiteral("/policy.xml"))) {
            qputenv("MAGICK_CONFIGURE_PATH", QFile::encodeName(policyDir));
        }
        Magick::InitializeMagick(QFile::encodeName(dir).constData());
        // Our batch runs files in parallel; ImageMagick's own threads would
        // only compete with it.
        Magick::ResourceLimits::thread(1);
        QImageReader::setAllocationLimit(static_cast<int>(kMaxPicturePixels * 4 / (1024 * 1024)) + 64);
    });
}

}  // namespace velda
