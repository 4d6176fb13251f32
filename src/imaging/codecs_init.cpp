#include <Magick++.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <mutex>

#include "imaging/codec.h"
#include "imaging/metadata.h"

namespace velda {

namespace {

QString ProgramDir() {
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())
        .absolutePath();
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
        const bool ownPolicy = QFileInfo::exists(policyDir + QStringLiteral("/policy.xml"));
        if (ownPolicy) qputenv("MAGICK_CONFIGURE_PATH", QFile::encodeName(policyDir));
        Magick::InitializeMagick(QFile::encodeName(dir).constData());
        // The policy is read during initialisation; programs we start (a
        // help viewer, ImageMagick's own tools) keep their own.
        (void)MagickCore::GetPolicyValue("resource:memory");
        if (ownPolicy) qunsetenv("MAGICK_CONFIGURE_PATH");
        // Our batch runs files in parallel; ImageMagick's own threads would
        // only compete with it.
        Magick::ResourceLimits::thread(1);
        InitializeMetadata();
        QImageReader::setAllocationLimit(static_cast<int>(kMaxPicturePixels * 4 / (1024 * 1024)) +
                                         64);
    });
}

}  // namespace velda
