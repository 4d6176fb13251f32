#include "settings/ini_file.h"

#include <QSet>

#include "base/file_access.h"

namespace velda {

namespace {

bool SectionName(const QString& line, QString* name) {
    const QString t = line.trimmed();
    if (!t.startsWith(u'[')) return false;
    const qsizetype close = t.indexOf(u']');
    if (close < 0) return false;
    *name = t.mid(1, close - 1).trimmed();
    return true;
}

bool KeyValue(const QString& line, QString* key, QString* value) {
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(u';') || t.startsWith(u'#')) return false;
    const qsizetype eq = t.indexOf(u'=');
    if (eq <= 0) return false;
    *key = t.left(eq).trimmed();
    if (value) *value = t.mid(eq + 1).trimmed();
    return true;
}

// A value is one line: a line break inside it would smuggle further keys
// into the file.
QString OneLine(QString value) {
    value.replace(u'\r', u' ');
    value.replace(u'\n', u' ');
    return value.trimmed();
}

}  // namespace

IniDocument IniDocument::Load(const QString& path) {
    IniDocument doc;
    QByteArray bytes;
    doc.read_ = ReadRegularFile(path, kMaxIniBytes, &bytes);
    if (!doc.read_.ok()) return doc;
    doc.crlf_ = bytes.contains("\r\n");
    // Files written on Windows are often in its own code page.
    QString text = DecodeText(bytes);
    text.replace(u'\0', u' ');
    text.remove(u'\r');
    doc.lines_ = text.split(u'\n');
    if (!doc.lines_.isEmpty() && doc.lines_.back().isEmpty()) doc.lines_.removeLast();
    return doc;
}

IniDocument::Location IniDocument::Find(const QString& section, const QString& key) const {
    Location loc;
    bool inSection = false;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        QString name;
        if (SectionName(lines_[i], &name)) {
            // The first section of that name is the one in use, as with the
            // platform's own reader.
            if (inSection) break;
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                inSection = true;
                loc.sectionLine = i;
                loc.lastLine = i;
            }
            continue;
        }
        if (!inSection) continue;
        QString k;
        if (!KeyValue(lines_[i], &k, nullptr)) continue;
        loc.lastLine = i;
        if (loc.keyLine < 0 && k.compare(key, Qt::CaseInsensitive) == 0) loc.keyLine = i;
    }
    return loc;
}

std::optional<QString> IniDocument::Value(const QString& section, const QString& key) const {
    const Location loc = Find(section, key);
    if (loc.keyLine < 0) return std::nullopt;
    QString k, v;
    KeyValue(lines_[loc.keyLine], &k, &v);
    return v;
}

void IniDocument::SetValue(const QString& section, const QString& key, const QString& value) {
    const QString line = key + u'=' + OneLine(value);
    const Location loc = Find(section, key);
    if (loc.keyLine >= 0) {
        lines_[loc.keyLine] = line;
    } else if (loc.sectionLine >= 0) {
        lines_.insert(loc.lastLine + 1, line);
    } else {
        if (!lines_.isEmpty() && !lines_.back().trimmed().isEmpty()) lines_.append(QString());
        lines_.append(u'[' + section + u']');
        lines_.append(line);
    }
}

QString IniDocument::Text() const {
    const QString eol = crlf_ ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text;
    for (const QString& l : lines_)
        text += l + eol;
    return text;
}

QStringList IniDocument::SectionNames() const {
    QStringList names;
    QSet<QString> seen;  // folded: a file of many sections stays linear
    for (const QString& line : lines_) {
        QString name;
        if (SectionName(line, &name) && !seen.contains(name.toCaseFolded())) {
            seen.insert(name.toCaseFolded());
            names.append(name);
        }
    }
    return names;
}

QList<std::pair<QString, QString>> IniDocument::Entries(const QString& section) const {
    QList<std::pair<QString, QString>> out;
    const Location loc = Find(section, QString());
    if (loc.sectionLine < 0) return out;
    for (qsizetype i = loc.sectionLine + 1; i <= loc.lastLine; ++i) {
        QString k, v;
        if (KeyValue(lines_[i], &k, &v)) out.append({k, v});
    }
    return out;
}

void IniDocument::RemoveSection(const QString& section, bool keepHeader) {
    const Location loc = Find(section, QString());
    if (loc.sectionLine < 0) return;
    // Up to the next section, so that comments of this one go with it.
    qsizetype end = loc.sectionLine + 1;
    QString name;
    while (end < lines_.size() && !SectionName(lines_[end], &name))
        ++end;
    const qsizetype from = loc.sectionLine + (keepHeader ? 1 : 0);
    lines_.remove(from, end - from);
    // A blank line before the next section, as a new section gets.
    if (keepHeader && from < lines_.size()) lines_.insert(from, QString());
}

bool IniDocument::HasSection(const QString& section) const {
    return Find(section, QString()).sectionLine >= 0;
}

QString IniDocument::ReadProblem(const QString& path) const {
    switch (read_.error) {
        case ReadError::None:
        case ReadError::Missing:
            return QString();
        case ReadError::TooLarge:
            return QStringLiteral("settings file too large: %1 (%2; at most %3 MiB are read)")
                .arg(path, read_.reason)
                .arg(kMaxIniBytes >> 20);
        default:
            return QStringLiteral("settings file cannot be read: %1 (%2)").arg(path, read_.reason);
    }
}

bool IniDocument::Save(const QString& path) const {
    // A file that is there but could not be read would be replaced by what
    // little this document holds.
    if (!ReadProblem(path).isEmpty()) return false;
    return WriteFileAtomic(path, Text().toUtf8(), true).ok;
}

}  // namespace velda
