#include "batch/directory_scan.h"

#include <sys/stat.h>

#include <QDir>
#include <algorithm>
#include <optional>

#include "imaging/codec.h"

namespace velda {

namespace {

using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> IdOf(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

bool Walk(const QString& dir, const ScanCallbacks& cb, const std::optional<FileId>& skip);

}  // namespace

QString JoinPath(const QString& dir, const QString& name) {
    return dir.endsWith(u'/') ? dir + name : dir + u'/' + name;
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
    // The directory to skip is known by its device and inode: comparing
    // canonical paths costs a lookup per level per folder, which grows with
    // the square of a tree's depth.
    std::optional<FileId> skip;
    if (!cb.skipDirectory.isEmpty()) skip = IdOf(cb.skipDirectory);
    return Walk(dir, cb, skip);
}

namespace {

bool Walk(const QString& dir, const ScanCallbacks& cb, const std::optional<FileId>& skip) {
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
        if (HasPictureEnding(e.fileName())) cb.file(dir, e.fileName(), e.size());
        if (cb.stopRequested()) break;
    }
    entries.clear();
    if (cb.folderDone) cb.folderDone();
    for (const QString& sub : subdirectories) {
        const QString path = JoinPath(dir, sub);
        if (skip && IdOf(path) == skip) continue;
        if (!Walk(path, cb, skip)) return false;
        if (cb.stopRequested()) return true;
    }
    return true;
}

}  // namespace

int CountPictures(const QString& dir, const QString& skipDirectory) {
    int n = 0;
    ScanCallbacks cb;
    cb.skipDirectory = skipDirectory;
    cb.file = [&n](const QString&, const QString&, qint64) { ++n; };
    cb.stopRequested = [] { return false; };
    cb.unreadable = [](const QString&, const Status&) { return true; };
    ScanDirectory(dir, cb);
    return n;
}

}  // namespace velda
