#include "imaging/picbuf.h"

#include "imaging/resize.h"

#include "imaging/compositing.h"
#include "imaging/picture_io.h"
#include "imaging/quantize.h"
#include "imaging/text.h"

namespace velda {

Status Picbuf::LoadFile() {
    Picture loaded;
    if (Status s = LoadPicture(FileName, kPhotoCdBase, &loaded); !s.ok()) return s;
    picture_ = std::move(loaded);
    return Status::Ok();
}

Status Picbuf::Store() const {
    if (!HasPicture()) return Status::Error(ErrorCode::NoPicture);
    if (FileName.isEmpty())
        return Status::Error(ErrorCode::WriteFailed, QStringLiteral("no file name"));
    const FormatInfo* format = FormatWithCode(ImageFormat);
    if (!format || !format->writable()) {
        return Status::Error(ErrorCode::BadArgument,
                             QStringLiteral("format code %1").arg(ImageFormat));
    }
    WriteOptions options;
    options.depth = ColorDepth();
    options.quality = WriteCompression;
    options.lossless = WriteLossless;
    options.keepMetadata = KeepMetadata;
    options.durable = SyncToDisk;
    options.replace = ReplaceExisting;
    options.threads = ColourThreads;
    return WritePicture(picture_, *format, FileName, options);
}

void Picbuf::ClearPicture() {
    picture_ = Picture();
    FileName.clear();
}

Status Picbuf::CreatePicture(int bitsPerPixel, int width, int height, QRgb colour) {
    if (bitsPerPixel != 24 || width <= 0 || height <= 0 ||
        static_cast<qint64>(width) * height > kMaxPicturePixels) {
        return Status::Error(ErrorCode::BadArgument);
    }
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return Status::Error(ErrorCode::OutOfMemory);
    image.fill(qRgb(qRed(colour), qGreen(colour), qBlue(colour)));
    picture_ = Picture{std::move(image), 24, QString()};
    FileName.clear();
    return Status::Ok();
}

Status Picbuf::RaiseToTrueColour() {
    return ToTrueColour(&picture_);
}

Status Picbuf::IncreaseColors(int bitsPerPixel) {
    if (!HasPicture()) return Status::Error(ErrorCode::NoPicture);
    if (bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) {
        return Status::Error(ErrorCode::BadArgument);
    }
    if (bitsPerPixel <= picture_.depth) return Status::Ok();
    if (bitsPerPixel >= 24) return RaiseToTrueColour();
    picture_.depth = bitsPerPixel;  // the palette already fits
    return Status::Ok();
}

Status Picbuf::ReduceColors(int colours, bool, bool, bool) {
    if (!HasPicture()) return Status::Error(ErrorCode::NoPicture);
    if (colours != 256 && colours != 16) return Status::Error(ErrorCode::BadArgument);
    QImage reduced;
    if (Status s = QuantizeImage(picture_.image, colours, &reduced, ColourThreads); !s.ok())
        return s;
    picture_.image = std::move(reduced);
    picture_.depth = colours == 256 ? 8 : 4;
    return Status::Ok();
}

Status Picbuf::MaskCopy(const Picbuf& source, const Picbuf& mask) {
    if (!HasPicture() || !source.HasPicture() || !mask.HasPicture()) {
        return Status::Error(ErrorCode::NoPicture);
    }
    // Colours that are not in a palette cannot be drawn into it.
    if (picture_.depth < 24) {
        if (Status s = RaiseToTrueColour(); !s.ok()) return s;
    }
    BlendThroughMask(picture_.image, source.image(), source.Xorigin, source.Yorigin, mask.image(),
                     mask.Xorigin, mask.Yorigin);
    return Status::Ok();
}

Status Picbuf::TextDraw() {
    if (!HasPicture()) return Status::Error(ErrorCode::NoPicture);
    if (picture_.depth < 24) {
        if (Status s = RaiseToTrueColour(); !s.ok()) return s;
    }
    TextRun run;
    run.text = Text;
    run.rect = QRect(SelectLeft, SelectTop, SelectWidth, SelectHeight);
    run.colour = ParseForeColor(ForeColor);
    run.fontName = Font.Name;
    run.bold = Font.Bold;
    run.italic = Font.Italic;
    run.underline = Font.Underline;
    run.strikeOut = Font.StrikeThrough;
    run.transparent = FontTransparent;
    return DrawTextRun(picture_.image, run);
}

Status Picbuf::Resize(QSize size) {
    if (!HasPicture()) return Status::Error(ErrorCode::NoPicture);
    return ResizePicture(&picture_, size);
}

Status Picbuf::PaintMarks(const RegionMarks& marks) {
    if (!HasPicture()) return Status::Error(ErrorCode::NoPicture);
    if (picture_.depth < 24) {
        if (Status s = RaiseToTrueColour(); !s.ok()) return s;
    }
    marks.paint(picture_.image, QPoint(0, 0), picture_.image.size());
    return Status::Ok();
}

void Picbuf::RestoreFrom(const Picture& clip) {
    QImage& mine = picture_.image;
    const QImage& theirs = clip.image;
    if (mine.isNull() || !mine.isDetached() || theirs.isNull() || mine.size() != theirs.size() ||
        mine.format() != theirs.format() || mine.bytesPerLine() != theirs.bytesPerLine() ||
        mine.constBits() == theirs.constBits()) {
        PasteClipboard(clip);
        return;
    }
    memcpy(mine.bits(), theirs.constBits(), static_cast<size_t>(theirs.sizeInBytes()));
    if (theirs.format() == QImage::Format_Indexed8) mine.setColorTable(theirs.colorTable());
    picture_.depth = clip.depth;
    picture_.fileName = clip.fileName;
    picture_.metadata = clip.metadata;
    FileName = clip.fileName;
}

void Picbuf::PasteClipboard(const Picture& clip) {
    picture_ = clip;
    FileName = clip.fileName;
}

}  // namespace velda
