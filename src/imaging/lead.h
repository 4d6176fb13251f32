#pragma once

#include <QString>

#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

// LEAD's format code for GIF in Save.
inline constexpr int kLeadFormatGif = 2;

// The second imaging component: reads GIF and Photo CD files at a chosen
// resolution and writes GIF. Pictures reach a Picbuf by Copy and Paste in
// memory.
class Lead {
  public:
    int PhotoCdResolution = 3;  // 1 Base/16 ... 3 Base ... 5 Base*16

    // Reads the file at its own depth. On failure the bitmap is left empty.
    Status LoadImage(const QString& fileName, int bitsPerPixel = 0, int page = 0,
                     int pageCount = 1);
    Picture CopyToClipboard(int = 2) const { return bitmap_; }
    void Paste(const Picture& clip, int = 1) { bitmap_ = clip; }
    // Writes the bitmap. Only GIF (format 2) at 8 bits per pixel is written;
    // a true-colour bitmap is reduced to 256 colours first.
    Status Save(const QString& fileName, int formatCode, int bitsPerPixel, int quality,
                bool multipage) const;
    // Save flushes the file to the disk before it takes the real name.
    bool SyncToDisk = false;
    // Save replaces a file that has the name already; false fails instead.
    bool ReplaceExisting = true;
    // Bitmap = 0: discards the picture.
    void ClearBitmap() { bitmap_ = Picture(); }
    bool HasBitmap() const { return !bitmap_.isNull(); }

  private:
    Picture bitmap_;
};

}  // namespace velda
