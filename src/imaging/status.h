#pragma once

#include <QString>

namespace velda {

// Why an imaging call failed. The numbers are stable: they are shown to the
// user ("Error loading image error number - 4") and listed in the help page.
enum class ErrorCode : int {
    None = 0,
    FileNotFound = 1,          // the file does not exist or cannot be opened
    NotAPicture = 2,           // the file is not a picture in a format we know
    UnsupportedFormat = 3,     // a known format that has no decoder (FIF)
    CorruptData = 4,           // truncated or damaged picture data
    TooLarge = 5,              // the header declares more pixels than we hold
    OutOfMemory = 6,           // the picture could not be allocated
    WriteFailed = 7,           // the file could not be written
    NoPicture = 8,             // the buffer holds no picture
    BadArgument = 9,           // a format code, depth or size that is not valid
    ColourFailed = 10,         // a colour reduction could not be done
    DirectoryUnreadable = 11,  // a folder of the batch could not be listed
    NotRegularFile = 12,       // a folder, pipe or device where a file was expected
    TargetExists = 13,         // the result's name was taken and may not be replaced
};

// The outcome of a call: success, or a stable error number with a text.
class [[nodiscard]] Status {
  public:
    Status() = default;
    static Status Ok() { return Status(); }
    static Status Error(ErrorCode code, const QString& detail = QString());
    // Success with a remark for the report.
    static Status Note(const QString& remark);

    bool ok() const { return code_ == ErrorCode::None; }
    ErrorCode code() const { return code_; }
    int number() const { return static_cast<int>(code_); }
    // "corrupt or truncated picture data: <detail>"; a success's remark
    const QString& text() const { return text_; }

  private:
    ErrorCode code_ = ErrorCode::None;
    QString text_;
};

// The fixed description of each error number.
QString ErrorDescription(ErrorCode code);

}  // namespace velda
