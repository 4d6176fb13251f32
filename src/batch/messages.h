#pragma once

#include <QString>

#include "base/values.h"
#include "imaging/status.h"

// The batch's own words, shared by the desktop program and velda-batch.
namespace velda::messages {

inline const QString kTitle = QStringLiteral("Velda Watermarking System");
inline const QString kMustSelectFiles = QStringLiteral("Must select files to be compressed");
inline const QString kOutputMissing = QStringLiteral("Output directory does not exists");
inline const QString kErrorCreatingOutput = QStringLiteral("Error creating output directory");
inline const QString kOutputSameAsSource =
    QStringLiteral("Output directory must be different to the source");
inline const QString kStopped = QStringLiteral("Watermarking system stopped");
inline const QString kConfirmTree =
    QStringLiteral("You have selected to watermark ALL files (and subdirectories) from, ");
inline const QString kConfirmList =
    QStringLiteral("You have selected to watermark the selected files from, ");
inline const QString kNothingToApply = QStringLiteral(
    "Please enter either a watermark or text information to apply to the set of pictures, you "
    "have selected.\rDo you wish to continue anyway and just convert?");

// "You have selected to watermark ... from, IN, to OUT  Continue ?"
inline QString Confirmation(bool tree, const QString& input, const QString& output) {
    return (tree ? kConfirmTree : kConfirmList) + input + QStringLiteral(", to ") + output +
           QStringLiteral("  Continue ?");
}

// What the run will make, after the question: CR "12 files, saved as
// JPEG." (with the depth when it is not 24 bits).
inline QString ConfirmationDetail(int files, const char* format, int depth) {
    QString s = QStringLiteral("\r%1 %2, saved as %3")
                    .arg(files)
                    .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                    .arg(QLatin1String(format));
    if (depth != 24) s += QStringLiteral(" at %1 bits").arg(depth);
    return s + u'.';
}

// "Error watermarking image. Error - N" CR "Do you wish to continue?"
inline QString RunError(int number) {
    return QStringLiteral("Error watermarking image. Error - ") + QString::number(number) +
           QStringLiteral("\rDo you wish to continue?");
}

// "12 files processed."
inline QString Processed(int count) {
    return QString::number(count) + QStringLiteral(" files processed.");
}

// "File(s) processed: 12"
inline QString Progress(int count) {
    return QStringLiteral("File(s) processed: ") + QString::number(count);
}

// "3 files could not be converted:"
inline QString FailedHeader(int count) {
    return QString::number(count) + QStringLiteral(" files could not be converted:");
}

// A message with the system's reason on the line after it.
inline QString WithReason(const QString& message, const QString& reason) {
    return reason.isEmpty() ? message : message + u'\r' + reason;
}

// "Watermarking system stopped: 12 files written."
inline const QString kStopping = QStringLiteral("Stopping…");
// A palette cannot carry an invisible mark.
inline const QString kInvisibleNeedsTrueColour = QStringLiteral(
    "an invisible mark needs 24-bit results: a palette (GIF, or 8 and 4 bits) cannot carry it");

inline QString StoppedSummary(int written) {
    return kStopped + QStringLiteral(": ") + QString::number(written) +
           (written == 1 ? QStringLiteral(" file written.") : QStringLiteral(" files written."));
}

// A JPEG asked to keep its blocks that had to be wholly re-encoded, and
// the one word for why: "wholly re-encoded (CMYK)".
inline QString WhollyReencoded(const QString& why) {
    return QStringLiteral("wholly re-encoded (%1)").arg(why);
}

// A source whose C2PA manifest its result does not carry.
inline const QString kCredentialsRemoved =
    QStringLiteral("content credentials removed: the picture was changed");

// A result written within a size: "quality 62 to fit 150k".
inline QString QualityForBudget(int quality, qint64 maxBytes) {
    return QStringLiteral("quality %1 to fit %2").arg(quality).arg(ByteSizeText(maxBytes));
}
// One that does not fit even at the lowest quality:
// "172410 bytes at quality 1, over 150k".
inline QString OverBudget(qint64 bytes, qint64 maxBytes) {
    return QStringLiteral("%1 bytes at quality 1, over %2").arg(bytes).arg(ByteSizeText(maxBytes));
}

// A mark too small to be seen once sized to the picture:
// "watermark left out: under 8 pixels at this picture's size".
inline QString MarksLeftOut(const QString& what) {
    return QStringLiteral("%1 left out: under 8 pixels at this picture's size").arg(what);
}

// "2 files skipped: their names were taken."
inline QString SkippedHeader(int count) {
    return QString::number(count) +
           QStringLiteral(" files skipped: their results' names were taken:");
}

// A path as it may stand on one line of a report: names holding line breaks
// or other control characters are quoted, with those characters escaped, so
// that no name can forge a line of its own.
inline QString ReportName(const QString& path) {
    bool plain = true;
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
            plain = false;
    }
    if (plain) return path;
    QString out = QStringLiteral("\"");
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u == u'\\' || u == u'"') {
            out += u'\\';
            out += c;
        } else if (u == u'\n') {
            out += QStringLiteral("\\n");
        } else if (u == u'\r') {
            out += QStringLiteral("\\r");
        } else if (u == u'\t') {
            out += QStringLiteral("\\t");
        } else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029) {
            out += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QChar(u'0'));
        } else {
            out += c;
        }
    }
    return out + u'"';
}

// Wherever an error number is shown, what it means follows on the next line.
inline QString WatermarkLoadError(const QString& file, const Status& status) {
    return QStringLiteral("Error loading watermark image (") + file +
           QStringLiteral("), Check format/file is ok. Error - ") +
           QString::number(status.number()) + QStringLiteral(" Watermarking will be disabled") +
           u'\r' + status.text();
}

inline QString TemplateLoadError(const QString& file, const Status& status) {
    return QStringLiteral("Error setting template image (") + file +
           QStringLiteral("), Check format/file is ok. Error - ") +
           QString::number(status.number()) + QStringLiteral(" Watermarking will be disabled") +
           u'\r' + status.text();
}

// "Error loading image error number - 4" CR "corrupt or truncated picture data"
inline QString ImageLoadError(const Status& status) {
    return QStringLiteral("Error loading image error number - ") +
           QString::number(status.number()) + u'\r' + status.text();
}

// "Error saving image. Error: 7" CR "file could not be written: ..."
inline QString ImageSaveError(const Status& status) {
    return QStringLiteral("Error saving image. Error: ") + QString::number(status.number()) +
           u'\r' + status.text();
}

}  // namespace velda::messages
