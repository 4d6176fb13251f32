#include "batch/directory_scan.h"

#include <QDir>
#include <algorithm>

namespace velda {

bool IsWalkedPictureName(const QString& name) {
    if (name.size() <= 4) return false;
    const QString ending = name.right(4).trimmed().toLower();
    static const QStringList endings = {QStringLiteral(".bmp"), QStringLiteral(".jpg"),
                                        QStringLiteral(".pcx"), QStringLiteral(".png"),
                                        QStringLiteral(".tif"), QStringLiteral(".tga"),
                                        QStringLiteral(".fif"), QStringLiteral(".gif")};
    return endings.contains(ending);
}

Status ListDirectory(const QString& dir, QList<QFileInfo>* entries) {
    const QFileInfo info(dir);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        return Status::Error(ErrorCode::DirectoryUnreadable, dir);
    }
    QDir d(dir);
    QList<QFileInfo> all = d.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    entries->clear();
    for (const QFileInfo& e : all) {
        if (!e.fileName().startsWith(u'.')) entries->append(e);
    }
    // Sorted by name, so that results never depend on the file system's order.
    std::sort(entries->begin(), entries->end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });
    return Status::Ok();
}

bool ScanDirectory(const QString& dir, const ScanCallbacks& cb) {
    if (cb.stopRequested()) {
        if (cb.stoppedAtStart) cb.stoppedAtStart();
        return true;
    }
    QList<QFileInfo> entries;
    if (Status s = cb.lister(dir, &entries); !s.ok()) return cb.unreadable(dir, s);

    QStringList subdirectories;
    for (const QFileInfo& e : entries) {
        if (e.isDir()) {
            if (!e.isSymLink()) subdirectories.append(e.fileName());
            continue;
        }
        if (!e.isFile() || !e.permission(QFileDevice::WriteOwner)) continue;
        if (IsWalkedPictureName(e.fileName())) cb.file(dir, e.fileName());
        if (cb.stopRequested()) break;
    }
    for (const QString& sub : subdirectories) {
        const QString path = dir + u'/' + sub;
        if (!cb.skipDirectory.isEmpty() &&
            QFileInfo(path).canonicalFilePath() == cb.skipDirectory) {
            continue;
        }
        if (!ScanDirectory(path, cb)) return false;
        if (cb.stopRequested()) return true;
    }
    return true;
}

int CountPictures(const QString& dir) {
    int n = 0;
    ScanCallbacks cb;
    cb.file = [&n](const QString&, const QString&) { ++n; };
    cb.stopRequested = [] { return false; };
    cb.unreadable = [](const QString&, const Status&) { return true; };
    ScanDirectory(dir, cb);
    return n;
}

}  // namespace velda
