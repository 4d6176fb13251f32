#include "imaging/status.h"

namespace velda {

QString ErrorDescription(ErrorCode code) {
    switch (code) {
        case ErrorCode::None:
            return QStringLiteral("no error");
        case ErrorCode::FileNotFound:
            return QStringLiteral("file not found or cannot be opened");
        case ErrorCode::NotAPicture:
            return QStringLiteral("not a picture in a known format");
        case ErrorCode::UnsupportedFormat:
            return QStringLiteral("picture format not supported");
        case ErrorCode::CorruptData:
            return QStringLiteral("corrupt or truncated picture data");
        case ErrorCode::TooLarge:
            return QStringLiteral("picture too large");
        case ErrorCode::OutOfMemory:
            return QStringLiteral("not enough memory for the picture");
        case ErrorCode::WriteFailed:
            return QStringLiteral("file could not be written");
        case ErrorCode::NoPicture:
            return QStringLiteral("no picture loaded");
        case ErrorCode::BadArgument:
            return QStringLiteral("invalid format, depth or size");
        case ErrorCode::ColourFailed:
            return QStringLiteral("colour conversion failed");
        case ErrorCode::DirectoryUnreadable:
            return QStringLiteral("folder cannot be read");
        case ErrorCode::NotRegularFile:
            return QStringLiteral("not a regular file");
        case ErrorCode::TargetExists:
            return QStringLiteral("a file of that name exists");
    }
    return QStringLiteral("unknown error");
}

Status Status::Error(ErrorCode code, const QString& detail) {
    Status s;
    s.code_ = code;
    s.text_ = ErrorDescription(code);
    if (!detail.isEmpty()) s.text_ += QStringLiteral(": ") + detail;
    return s;
}

Status Status::Note(const QString& remark) {
    Status s;
    s.text_ = remark;
    return s;
}

}  // namespace velda
