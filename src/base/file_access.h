#pragma once

#include <QByteArray>
#include <QString>

namespace velda {

// Reading and writing whole files safely, for pictures and settings alike.

// Why a read failed.
enum class ReadError { None, Missing, NotRegular, TooLarge, Failed };

struct FileRead {
    ReadError error = ReadError::None;
    QString reason;  // the system's words, for the user
    bool ok() const { return error == ReadError::None; }
};

// Reads the whole of the regular file at path, at most maxBytes. Pipes,
// devices and folders are refused without ever blocking on them (a FIFO
// would hang the reader, /dev/zero would never end).
FileRead ReadRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes);

// True when path names a regular file that can be opened for reading.
bool IsReadableRegularFile(const QString& path);

// True when the file at path can be opened for reading; false for a
// directory, an empty path, or any failure.
bool FileExists(const QString& path);

// The bytes that name path on disk: its UTF-8 encoding, or its Windows-1252
// encoding when only that names an existing file (names written by older
// systems, or given to us as bytes that are not UTF-8).
QByteArray NativePath(const QString& path);

struct FileWrite {
    bool ok = false;
    bool exists = false;  // replace was false and the name was taken
    QString reason;
};

// Writes bytes to path through a temporary file in the same folder, renamed
// into place, so that no reader ever sees half a file under the real name.
// With durable the data reaches the disk before the rename. Without replace
// an existing file is never replaced, atomically: the write then fails with
// exists set. The file's permissions follow the process's umask, applied by
// the system when the file is created.
FileWrite WriteFileAtomic(const QString& path, const QByteArray& bytes, bool durable,
                          bool replace = true);

// Text as Windows writes it: UTF-8 when the bytes are valid UTF-8, else
// Windows-1252.
QString DecodeText(const QByteArray& bytes);
QString DecodeWindows1252(const QByteArray& bytes);
// The Windows-1252 bytes of text; false when a character has none.
bool EncodeWindows1252(const QString& text, QByteArray* out);

}  // namespace velda
