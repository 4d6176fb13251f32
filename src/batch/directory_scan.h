#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>
#include <functional>

#include "imaging/status.h"

namespace velda {

// dir + "/" + name, without doubling the separator of the root "/".
QString JoinPath(const QString& dir, const QString& name);

// A directory's entries sorted by name, hidden entries ("." names) left
// out. Fails when the directory cannot be read.
using DirectoryLister = std::function<Status(const QString& dir, QList<QFileInfo>* entries)>;
Status ListDirectory(const QString& dir, QList<QFileInfo>* entries);

// What the walk does with each thing it meets.
struct ScanCallbacks {
    // A picture file to process, with the directory it lies in and its size.
    std::function<void(const QString& dir, const QString& name, qint64 bytes)> file;
    // Every picture of a directory has been met (its subdirectories are
    // walked after); may be empty.
    std::function<void()> folderDone;
    // Called after every file entry, taken or not; true stops the walk.
    std::function<bool()> stopRequested;
    // A stop found at the start of a directory's call.
    std::function<void()> stoppedAtStart;
    // A directory that could not be read; true goes on with the next entry.
    std::function<bool(const QString& dir, const Status& status)> unreadable;
    // A directory never entered (the output directory inside the tree),
    // however it is reached; empty: none.
    QString skipDirectory;
    DirectoryLister lister = ListDirectory;
};

// Walks dir: first every picture file of the directory (by its name's
// ending, any of PictureEndings() in any letter case), in name order, then
// each subdirectory's whole tree in turn. Files whose owner may not write
// them (read-only) are skipped; links to directories are not entered.
// False when the walk was abandoned after an unreadable directory.
bool ScanDirectory(const QString& dir, const ScanCallbacks& callbacks);

// How many picture files a walk of dir would take, never entering
// skipDirectory: for progress bars.
int CountPictures(const QString& dir, const QString& skipDirectory = QString());

}  // namespace velda
