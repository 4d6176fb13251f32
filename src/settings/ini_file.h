#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "base/file_access.h"

namespace velda {

// An INI file held in memory with the semantics of the Windows private
// profile functions: section and key names compared without regard to case,
// values trimmed of blanks, other sections, keys and comments kept as they
// were. Text is written as UTF-8.
// A settings file is small; one bigger than this is not ours and is refused
// rather than read in part.
inline constexpr qint64 kMaxIniBytes = qint64(64) << 20;

class IniDocument {
  public:
    // Reads the file at path. A missing or unreadable file, or one that is
    // not a regular file, gives an empty document; bytes that are not text
    // never stop the reading. Text that is not valid UTF-8 is read as
    // Windows-1252.
    static IniDocument Load(const QString& path);

    // The value of key in section, or nothing when either is absent.
    std::optional<QString> Value(const QString& section, const QString& key) const;

    // Sets key in section, creating the section at the end of the file and
    // the key at the end of its section when they are missing.
    void SetValue(const QString& section, const QString& key, const QString& value);

    // Why the file was there but could not be read (too large, not a
    // regular file, no permission), naming it; empty when it was read or is
    // missing.
    QString ReadProblem(const QString& path) const;

    // Writes the document to path through a temporary file in the same
    // directory that is renamed into place, so a crash never leaves half a
    // file. False when it could not be written, and always when the file
    // was there but could not be read: it is never written over.
    bool Save(const QString& path) const;

    QString Text() const;
    bool HasSection(const QString& section) const;
    // The names of the sections, each once, in the file's order.
    QStringList SectionNames() const;
    // The keys of a section with their values, in the file's order.
    QList<std::pair<QString, QString>> Entries(const QString& section) const;
    // Removes every line of a section; with keepHeader its [name] line
    // stays, so that keys set again keep the section's place.
    void RemoveSection(const QString& section, bool keepHeader = false);

  private:
    struct Location {
        qsizetype sectionLine = -1;  // the [section] line, -1 when absent
        qsizetype keyLine = -1;      // the key=value line, -1 when absent
        qsizetype lastLine = -1;     // last key line of the section (or its header)
    };
    Location Find(const QString& section, const QString& key) const;

    QStringList lines_;
    bool crlf_ = false;
    FileRead read_;
};

}  // namespace velda
