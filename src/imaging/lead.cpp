#include "imaging/lead.h"

#include "imaging/picture_io.h"

namespace velda {

Status Lead::LoadImage(const QString& fileName, int, int, int) {
    bitmap_ = Picture();
    return LoadPicture(fileName, PhotoCdResolution, &bitmap_);
}

Status Lead::Save(const QString& fileName, int formatCode, int bitsPerPixel, int, bool) const {
    if (bitmap_.isNull()) return Status::Error(ErrorCode::NoPicture);
    if (formatCode != kLeadFormatGif || bitsPerPixel != 8) {
        return Status::Error(ErrorCode::BadArgument,
                             QStringLiteral("LEAD writes GIF at 8 bits per pixel only"));
    }
    Picture gif;
    if (Status s = ToWritable(bitmap_, Format(FormatId::Gif), 8, 0, &gif); !s.ok()) return s;
    gif.depth = 8;
    QByteArray bytes;
    if (Status s = EncodePicture(gif, Format(FormatId::Gif), 0, &bytes); !s.ok()) return s;
    return WriteFileAtomically(fileName, bytes, SyncToDisk, ReplaceExisting);
}

}  // namespace velda
