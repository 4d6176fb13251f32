#include "batch/tokens.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "imaging/codec.h"
#include "imaging/picture_io.h"
#include "imaging/resize.h"
#include "settings/section_settings.h"

namespace velda {

QString ExpandTokens(const QString& text, const TokenLookup& lookup) {
    QString out;
    out.reserve(text.size());
    // The next "{" and "}" at or after a place, each searched for again only
    // once the walk has passed it: a text of any length is read once.
    qsizetype nextOpen = text.indexOf(u'{'), nextClose = text.indexOf(u'}');
    auto next = [&text](QChar ch, qsizetype from, qsizetype& cached) {
        if (cached >= 0 && cached < from) cached = text.indexOf(ch, from);
        return cached;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((c == u'{' || c == u'}') && i + 1 < text.size() && text[i + 1] == c) {
            out += c;
            ++i;
            continue;
        }
        const qsizetype close = c == u'{' ? next(u'}', i + 1, nextClose) : -1;
        const qsizetype reopen = c == u'{' ? next(u'{', i + 1, nextOpen) : -1;
        if (close < 0 || (reopen >= 0 && reopen < close)) {
            out += c;
            continue;
        }
        const QString token = text.mid(i + 1, close - i - 1);
        const auto value = lookup(token);
        out += value ? *value : text.mid(i, close - i + 1);
        i = close;
    }
    return out;
}

namespace {

// The day the photo was taken, or the day the file was last changed.
QDate PhotoDate(const FileFacts& f) {
    const auto taken =
        MetadataText(f.metadata.get(), QStringLiteral("Exif.Photo.DateTimeOriginal"));
    if (taken && taken->size() >= 10) {
        const QDate d = QDate::fromString(taken->left(10), QStringLiteral("yyyy:MM:dd"));
        if (d.isValid()) return d;
    }
    return QFileInfo(f.path).lastModified().date();
}

}  // namespace

TokenLookup FileTokens(const FileFacts& facts) {
    return [facts](const QString& token) -> std::optional<QString> {
        if (token == u"name") return QFileInfo(facts.path).completeBaseName();
        if (token == u"date") return PhotoDate(facts).toString(Qt::ISODate);
        if (token == u"year") return QString::number(PhotoDate(facts).year());
        if (token == u"counter") return QString::number(facts.counter);
        if (token.startsWith(QStringLiteral("counter:"))) {
            bool ok = false;
            const int digits = token.mid(8).toInt(&ok);
            if (!ok || digits < 1 || digits > kMaxCounterDigits) return std::nullopt;
            return QStringLiteral("%1").arg(facts.counter, digits, 10, QLatin1Char('0'));
        }
        if (facts.size.isValid() && token == u"width") return QString::number(facts.size.width());
        if (facts.size.isValid() && token == u"height") return QString::number(facts.size.height());
        return MetadataText(facts.metadata.get(), token);
    };
}

QString ResultStem(const QString& nameTemplate, const QString& sourcePath, int counter,
                   const ResizeTarget& resize) {
    FileFacts facts{sourcePath, counter, nullptr, QSize()};
    // Only what the template asks for is read from the file.
    static const QRegularExpression needsFile(
        QStringLiteral(R"(\{(date|year|width|height|\w+\.))"));
    QByteArray data;
    if (nameTemplate.contains(needsFile) && ReadPictureFile(sourcePath, &data).ok()) {
        int orientation = 1;
        facts.metadata = ReadMetadata(data, &orientation);
        HeaderInfo header;
        if (ReadHeader(SniffFormat(data, sourcePath), data, kPhotoCdBase, &header).ok()) {
            QSize size(header.width, header.height);
            if (orientation >= 5) size.transpose();
            facts.size = ResizedSize(resize, size);
        }
    }
    QString stem = ExpandTokens(nameTemplate, FileTokens(facts)).trimmed();
    for (QChar& c : stem) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20) c = u'_';
    }
    if (stem.isEmpty() || stem == u"." || stem == u"..")
        return QFileInfo(sourcePath).completeBaseName();
    return stem;
}

}  // namespace velda
