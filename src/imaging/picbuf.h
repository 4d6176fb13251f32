#pragma once

#include <QString>

#include "imaging/invisible_mark.h"
#include "imaging/jpeg_remark.h"
#include "imaging/picture.h"
#include "imaging/status.h"

namespace velda {

struct PicbufFont {
    QString Name;
    bool Bold = false;
    bool Italic = false;
    bool StrikeThrough = false;
    bool Underline = false;
};

// A picture buffer: one picture with file input and output, colour depth
// changes, masked blending and text drawing. Transfers between buffers go
// through memory (Copy and Paste); the user's clipboard is never touched.
class Picbuf {
  public:
    // Properties set by the callers before an operation.
    QString FileName;            // read by LoadFile, written by Store
    int ImageFormat = 0;         // format code for Store; 0 when loading
    int WriteCompression = 0;    // JPEG and WebP quality for Store
    bool WriteLossless = false;  // WebP: lossless
    double Xorigin = 0;          // a source or mask with origin (-x, -y)
    double Yorigin = 0;          //   lands at (x, y) of the target
    int SelectLeft = 0, SelectTop = 0, SelectWidth = 0, SelectHeight = 0;
    bool FontTransparent = false;
    QString ForeColor;  // "&H" + six hexadecimal digits, Windows order
    PicbufFont Font;
    QString Text;
    // Store flushes the file to the disk before it takes the real name.
    bool SyncToDisk = false;
    // Threads ReduceColors may use; 0: every core.
    int ColourThreads = 0;
    // Store replaces a file that has the name already; false fails with
    // TargetExists instead, atomically.
    bool ReplaceExisting = true;
    // Store writes the photograph's metadata into formats that hold it
    // (JPEG, TIFF); false writes pixels only.
    bool KeepMetadata = true;

    // Bits per pixel that the picture holds: 1, 4, 8, 24, or 32 with alpha;
    // 0 when empty.
    int ColorDepth() const { return picture_.depth; }
    int Xresolution() const { return picture_.image.width(); }
    int Yresolution() const { return picture_.image.height(); }
    bool HasPicture() const { return !picture_.isNull(); }

    // Reads FileName. On failure the buffer is left as it was.
    Status LoadFile();
    // Writes the picture to FileName in ImageFormat.
    Status Store() const;
    void ClearPicture();
    // A uniform picture; bits per pixel must be 24. Clears FileName: a made
    // picture comes from no file.
    Status CreatePicture(int bitsPerPixel, int width, int height, QRgb colour);
    // Raises the depth. 24 turns a palette picture into true colour, keeping
    // transparent palette entries as alpha (depth 32 then).
    Status IncreaseColors(int bitsPerPixel);
    // Lowers the picture to a dithered palette of 256 or 16 colours.
    Status ReduceColors(int colours, bool = true, bool = true, bool = true);
    // Blends source into this picture through mask (see compositing.h).
    Status MaskCopy(const Picbuf& source, const Picbuf& mask);
    // Draws Text into the selection rectangle (see text.h).
    Status TextDraw();
    // Draws marks over the whole picture (true colour from then on).
    Status PaintMarks(const RegionMarks& marks);
    // Adds an invisible mark (see invisible_mark.h).
    Status EmbedInvisibleMark(const InvisiblePayload& payload, int strength) {
        return EmbedInvisible(&picture_, payload, strength);
    }
    // Brings the picture to a smaller size (true colour from then on),
    // averaging the pixels each new one covers.
    Status Resize(QSize size);

    // Memory transfers. A copy carries the picture and its file name; a
    // paste replaces this buffer's picture and file name with them.
    Picture CopyClipboard() const { return picture_; }
    void PasteClipboard(const Picture& clip);
    // As PasteClipboard, but the pixels are copied into this buffer's own
    // memory when it has the same size and layout and nobody else shares
    // it: an apply repeated on a large photograph then allocates nothing.
    void RestoreFrom(const Picture& clip);
    // Gives this buffer memory of its own, shared with no copy.
    void Detach() { picture_.image.detach(); }

    const Picture& picture() const { return picture_; }
    const QImage& image() const { return picture_.image; }

  private:
    Status RaiseToTrueColour();

    Picture picture_;
};

}  // namespace velda
