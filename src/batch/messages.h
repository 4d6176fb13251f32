#pragma once

#include <QString>

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

inline QString WatermarkLoadError(const QString& file, int number) {
    return QStringLiteral("Error loading watermark image (") + file +
           QStringLiteral("), Check format/file is ok. Error - ") + QString::number(number) +
           QStringLiteral(" Watermarking will be disabled");
}

inline QString TemplateLoadError(const QString& file, int number) {
    return QStringLiteral("Error setting template image (") + file +
           QStringLiteral("), Check format/file is ok. Error - ") + QString::number(number) +
           QStringLiteral(" Watermarking will be disabled");
}

}  // namespace velda::messages
