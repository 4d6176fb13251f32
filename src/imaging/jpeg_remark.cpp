// Marks a JPEG through libjpeg's coefficient interface: the source's DCT
// blocks are read without decoding them to pixels, only the MCUs under the
// marks are decoded (a cropped, skipped decode), marked and transformed
// back, and the blocks are written out again. TurboJPEG's transform API
// offers a coefficient filter, but it sees one component at a time and no
// pixels, while re-encoding a marked MCU needs all components of it.
#include "imaging/jpeg_remark.h"

#include <cstdio>  // jpeglib.h needs FILE
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "imaging/jpeg_mcu.h"
#include "imaging/metadata.h"

namespace velda {

namespace {

using namespace jpeg;

struct JpegError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void ErrorExit(j_common_ptr c) {
    char text[JMSG_LENGTH_MAX];
    (*c->err->format_message)(c, text);
    throw JpegError(text);
}

// A warning means damaged data: it fails the file, as the normal decode does.
void EmitMessage(j_common_ptr c, int level) {
    if (level < 0) ErrorExit(c);
}

void UseErrors(jpeg_error_mgr* err) {
    jpeg_std_error(err);
    err->error_exit = ErrorExit;
    err->emit_message = EmitMessage;
}

struct Decompress {
    jpeg_decompress_struct info{};
    jpeg_error_mgr err{};
    explicit Decompress(const QByteArray& data) {
        info.err = &err;
        UseErrors(&err);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                     static_cast<unsigned long>(data.size()));
    }
    ~Decompress() { jpeg_destroy_decompress(&info); }
    // Reads the header, and the stored picture's size into out.
    jpeg_decompress_struct& Header(JpegRemark* out) {
        jpeg_read_header(&info, TRUE);
        out->width = static_cast<int>(info.image_width);
        out->height = static_cast<int>(info.image_height);
        return info;
    }
    Decompress(const Decompress&) = delete;
    Decompress& operator=(const Decompress&) = delete;
};

// Compresses into a QByteArray sized from the start near the result's
// size, so the file is neither copied while it grows nor after.
struct Compress {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    jpeg_destination_mgr destination{};
    QByteArray bytes;
    explicit Compress(qsizetype expected)
        : bytes(std::max<qsizetype>(expected, 65536), Qt::Uninitialized) {
        info.err = &err;
        UseErrors(&err);
        jpeg_create_compress(&info);
        info.client_data = this;
        destination.init_destination = [](j_compress_ptr c) {
            auto* self = static_cast<Compress*>(c->client_data);
            self->destination.next_output_byte = reinterpret_cast<JOCTET*>(self->bytes.data());
            self->destination.free_in_buffer = static_cast<size_t>(self->bytes.size());
        };
        destination.empty_output_buffer = [](j_compress_ptr c) -> boolean {
            auto* self = static_cast<Compress*>(c->client_data);
            const qsizetype used = self->bytes.size();
            self->bytes.resize(used * 2);
            self->destination.next_output_byte =
                reinterpret_cast<JOCTET*>(self->bytes.data() + used);
            self->destination.free_in_buffer = static_cast<size_t>(used);
            return TRUE;
        };
        destination.term_destination = [](j_compress_ptr c) {
            auto* self = static_cast<Compress*>(c->client_data);
            self->bytes.truncate(self->bytes.size() -
                                 static_cast<qsizetype>(self->destination.free_in_buffer));
        };
        info.dest = &destination;
    }
    ~Compress() { jpeg_destroy_compress(&info); }
    Compress(const Compress&) = delete;
    Compress& operator=(const Compress&) = delete;
};

QRect Normalized(QPoint a, QPoint b) {
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

// The stored rectangle holding an upright one, and back.
QRect StoredRect(const QRect& upright, int orientation, QSize stored) {
    return Normalized(StoredPoint(upright.topLeft(), orientation, stored),
                      StoredPoint(upright.bottomRight(), orientation, stored));
}
QRect UprightRect(const QRect& stored, int orientation, QSize upright) {
    return StoredRect(stored, InverseOrientation(orientation), upright);
}

// Cells of the region whose pixels the marks changed.
std::vector<QPoint> ChangedCells(const QImage& before, const QImage& after, const QRect& region,
                                 const Sampling& sampling) {
    std::vector<QPoint> cells;
    const int cw = sampling.cellW, ch = sampling.cellH;
    for (int cy = region.top() / ch; cy * ch <= region.bottom(); ++cy) {
        for (int cx = region.left() / cw; cx * cw <= region.right(); ++cx) {
            const QRect cell = QRect(cx * cw, cy * ch, cw, ch) & region;
            bool changed = false;
            for (int y = cell.top(); y <= cell.bottom() && !changed; ++y) {
                const int row = y - region.top();
                const auto* a = reinterpret_cast<const QRgb*>(before.constScanLine(row));
                const auto* b = reinterpret_cast<const QRgb*>(after.constScanLine(row));
                for (int x = cell.left(); x <= cell.right(); ++x) {
                    if (a[x - region.left()] != b[x - region.left()]) {
                        changed = true;
                        break;
                    }
                }
            }
            if (changed) cells.emplace_back(cx, cy);
        }
    }
    return cells;
}

// Decodes the MCUs under the footprint, draws the marks into them in the
// upright frame, and encodes again those whose pixels changed. In those,
// the pixels the marks left alone keep their decoded values unrounded, so
// only what was marked moves away from the source.
void RedoUnderMarks(jpeg_decompress_struct& s, jvirt_barray_ptr* arrays, const Sampling& sampling,
                    int orientation, const QRect& footprint, const RegionMarks& marks, bool grey,
                    JpegRemark* out) {
    const QSize stored(out->width, out->height);
    const QSize upright = orientation >= 5 ? stored.transposed() : stored;
    const QRect under = StoredRect(footprint, orientation, stored);
    const int cw = sampling.cellW, ch = sampling.cellH;
    const QRect cells(QPoint(under.left() / cw, under.top() / ch),
                      QPoint(under.right() / cw, under.bottom() / ch));
    const QRect region =
        QRect(cells.left() * cw, cells.top() * ch, cells.width() * cw, cells.height() * ch) &
        QRect(QPoint(0, 0), stored);

    QImage before(region.size(), QImage::Format_RGB32);
    if (before.isNull()) throw std::bad_alloc();
    CellPlanes planes;
    const int plane = cw * ch;
    auto cellPixels = [&](QPoint cell) {
        return QRect(cell.x() * cw, cell.y() * ch, cw, ch) & region;
    };
    for (int cy = cells.top(); cy <= cells.bottom(); ++cy)
        for (int cx = cells.left(); cx <= cells.right(); ++cx) {
            DecodeCell(s, arrays, sampling, QPoint(cx, cy), &planes);
            const QRect r = cellPixels(QPoint(cx, cy));
            for (int y = r.top(); y <= r.bottom(); ++y) {
                QRgb* row = reinterpret_cast<QRgb*>(before.scanLine(y - region.top()));
                for (int x = r.left(); x <= r.right(); ++x) {
                    const int i = (y - cy * ch) * cw + x - cx * cw;
                    row[x - region.left()] =
                        ToRgb(planes[i], planes[plane + i], planes[2 * plane + i], grey);
                }
            }
        }

    QImage view = ApplyOrientation(before, orientation);
    if (view.format() != QImage::Format_RGB32) view = view.convertToFormat(QImage::Format_RGB32);
    marks.paint(view, UprightRect(region, orientation, upright).topLeft(), upright);
    QImage after = ApplyOrientation(view, InverseOrientation(orientation));
    if (after.format() != QImage::Format_RGB32) after = after.convertToFormat(QImage::Format_RGB32);

    for (const QPoint& cell : ChangedCells(before, after, region, sampling)) {
        DecodeCell(s, arrays, sampling, cell, &planes);
        const QRect r = cellPixels(cell);
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const auto* was = reinterpret_cast<const QRgb*>(before.constScanLine(y - region.top()));
            const auto* now = reinterpret_cast<const QRgb*>(after.constScanLine(y - region.top()));
            for (int x = r.left(); x <= r.right(); ++x) {
                const QRgb p = now[x - region.left()];
                if (p == was[x - region.left()]) continue;
                const int i = (y - cell.y() * ch) * cw + x - cell.x() * cw;
                ToYcc(p, &planes[i], &planes[plane + i], &planes[2 * plane + i]);
            }
        }
        EncodeCell(s, arrays, sampling, cell, planes);
        for (int c = 0; c < s.num_components; ++c)
            ForEachBlock(sampling, c, cell, [&](int, int, QPoint) { ++out->blocksRedone; });
    }
}

// Whether a table has a code for every symbol that 8-bit samples can
// need: the 12 DC categories, or for AC every run of 0 to 15 zeros before
// a size of 1 to 10 bits, end of block and the run of sixteen zeros.
bool Complete(const JHUFF_TBL* table, bool ac) {
    if (!table) return false;
    int count = 0;
    for (int i = 1; i <= 16; ++i)
        count += table->bits[i];
    std::bitset<256> has;
    for (int i = 0; i < std::min(count, 256); ++i)
        has.set(table->huffval[i]);
    for (int symbol = 0; symbol < 256; ++symbol) {
        const int size = symbol & 15;
        const bool needed =
            ac ? (size >= 1 && size <= 10) || symbol == 0x00 || symbol == 0xF0 : symbol <= 11;
        if (needed && !has[static_cast<size_t>(symbol)]) return false;
    }
    return true;
}

void KeepCompleteHuffmanTables(const jpeg_decompress_struct& s, jpeg_compress_struct* d) {
    if (s.progressive_mode) return;  // its tables are fitted to its spectral scans
    for (int c = 0; c < s.num_components; ++c) {
        const jpeg_component_info& comp = s.comp_info[c];
        if (!Complete(s.dc_huff_tbl_ptrs[comp.dc_tbl_no], false) ||
            !Complete(s.ac_huff_tbl_ptrs[comp.ac_tbl_no], true))
            return;
    }
    auto copy = [d](const JHUFF_TBL* from, JHUFF_TBL** to) {
        if (!from) return;
        if (!*to) *to = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(d));
        std::copy(std::begin(from->bits), std::end(from->bits), (*to)->bits);
        std::copy(std::begin(from->huffval), std::end(from->huffval), (*to)->huffval);
        (*to)->sent_table = FALSE;
    };
    for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
        copy(s.dc_huff_tbl_ptrs[i], &d->dc_huff_tbl_ptrs[i]);
        copy(s.ac_huff_tbl_ptrs[i], &d->ac_huff_tbl_ptrs[i]);
    }
    for (int c = 0; c < s.num_components; ++c) {
        d->comp_info[c].dc_tbl_no = s.comp_info[c].dc_tbl_no;
        d->comp_info[c].ac_tbl_no = s.comp_info[c].ac_tbl_no;
    }
}

// Runs a libjpeg job: its errors become the picture's status, and a job
// that fails leaves no result behind.
template <typename Job>
Status RunJpegJob(JpegRemark* out, Job job) {
    *out = JpegRemark();
    try {
        return job();
    } catch (const JpegError& e) {
        *out = JpegRemark();
        return Status::Error(ErrorCode::CorruptData, QString::fromLocal8Bit(e.what()));
    } catch (const std::bad_alloc&) {
        *out = JpegRemark();
        return Status::Error(ErrorCode::OutOfMemory);
    }
}

}  // namespace

QPoint StoredPoint(QPoint p, int orientation, QSize stored) {
    const int w = stored.width() - 1, h = stored.height() - 1;
    switch (orientation) {
        case 2:
            return {w - p.x(), p.y()};
        case 3:
            return {w - p.x(), h - p.y()};
        case 4:
            return {p.x(), h - p.y()};
        case 5:
            return {p.y(), p.x()};
        case 6:
            return {p.y(), h - p.x()};
        case 7:
            return {w - p.y(), h - p.x()};
        case 8:
            return {w - p.y(), p.x()};
        default:
            return p;
    }
}

int InverseOrientation(int orientation) {
    return orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
}

Status MarkJpegRows(const QByteArray& jpeg, const RegionMarks& marks, int quality,
                    JpegRemark* out) {
    // QImage::Format_RGB32's words in memory, as the whole decode fills them.
    constexpr J_COLOR_SPACE kRgb32 =
        QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    return RunJpegJob(out, [&] {
        Decompress source(jpeg);
        jpeg_decompress_struct& s = source.Header(out);
        if (s.jpeg_color_space != JCS_YCbCr || s.num_components != 3) {
            out->wholeReason = QStringLiteral("colourspace");
            return Status::Ok();
        }
        s.out_color_space = kRgb32;
        jpeg_start_decompress(&s);
        const int width = static_cast<int>(s.output_width);
        const int height = static_cast<int>(s.output_height);
        const QSize size(width, height);
        const QRect footprint =
            marks.footprint ? marks.footprint(size) & QRect(QPoint(0, 0), size) : QRect();
        const bool marked = !footprint.isEmpty() && marks.paint;
        const int bandTop = marked ? footprint.top() : height;
        const int bandEnd = marked ? footprint.bottom() + 1 : height;

        Compress result(jpeg.size());
        jpeg_compress_struct& c = result.info;
        c.image_width = s.output_width;
        c.image_height = s.output_height;
        c.input_components = 4;
        c.in_color_space = kRgb32;
        jpeg_set_defaults(&c);  // YCbCr at 2x2 1x1 1x1: 4:2:0
        const int q = std::clamp(quality, 1, 100);
        jpeg_set_quality(&c, q, TRUE);
        c.dct_method = q >= 96 ? JDCT_ISLOW : JDCT_IFAST;  // as TurboJPEG chooses
        jpeg_start_compress(&c, TRUE);

        // The rows under the marks are drawn into as one picture (a text's
        // tone is measured over its whole box); the others pass through a
        // few at a time.
        constexpr int kRowsAtOnce = 16;
        QImage plain(width, kRowsAtOnce, QImage::Format_RGB32);
        QImage band(width, bandEnd - bandTop, QImage::Format_RGB32);
        if (plain.isNull() || (marked && band.isNull())) throw std::bad_alloc();
        std::vector<JSAMPROW> rows(static_cast<size_t>(std::max(kRowsAtOnce, band.height())));
        auto pass = [&](QImage& image, int count, auto before) {
            for (int i = 0; i < count; ++i)
                rows[static_cast<size_t>(i)] = image.scanLine(i);
            const auto n = static_cast<JDIMENSION>(count);
            for (JDIMENSION done = 0; done < n;)
                done += jpeg_read_scanlines(&s, rows.data() + done, n - done);
            before();
            for (int i = 0; i < count; ++i)
                rows[static_cast<size_t>(i)] = image.scanLine(i);
            for (JDIMENSION done = 0; done < n;)
                done += jpeg_write_scanlines(&c, rows.data() + done, n - done);
        };
        for (int y = 0; y < height;) {
            if (y == bandTop) {
                pass(band, band.height(), [&] { marks.paint(band, QPoint(0, y), size); });
                y = bandEnd;
            } else {
                const int count = std::min(kRowsAtOnce, (y < bandTop ? bandTop : height) - y);
                pass(plain, count, [] {});
                y += count;
            }
        }
        jpeg_finish_compress(&c);
        jpeg_finish_decompress(&s);
        out->file = std::move(result.bytes);
        return Status::Ok();
    });
}

Status RemarkJpeg(const QByteArray& jpeg, int orientation, const RegionMarks& marks,
                  JpegRemark* out) {
    return RunJpegJob(out, [&] {
        Decompress source(jpeg);
        jpeg_decompress_struct& s = source.Header(out);
        if (s.arith_code) {
            out->wholeReason = QStringLiteral("arithmetic");
            return Status::Ok();
        }
        const bool grey = s.jpeg_color_space == JCS_GRAYSCALE && s.num_components == 1;
        if (!grey && !(s.jpeg_color_space == JCS_YCbCr && s.num_components == 3)) {
            out->wholeReason = s.jpeg_color_space == JCS_CMYK || s.jpeg_color_space == JCS_YCCK
                                   ? QStringLiteral("CMYK")
                                   : QStringLiteral("colourspace");
            return Status::Ok();
        }
        Sampling sampling;
        if (QString why = ReadSampling(s, &sampling); !why.isEmpty()) {
            out->wholeReason = why;
            return Status::Ok();
        }
        jvirt_barray_ptr* arrays = jpeg_read_coefficients(&s);
        // A component that no scan carried has no table to decode or encode
        // its blocks with: the normal decoder judges such a file.
        for (int c = 0; c < s.num_components; ++c) {
            if (!s.comp_info[c].quant_table) {
                out->wholeReason = QStringLiteral("incomplete");
                return Status::Ok();
            }
        }

        const QSize stored(out->width, out->height);
        const QSize upright = orientation >= 5 ? stored.transposed() : stored;
        const QRect footprint =
            marks.footprint ? marks.footprint(upright) & QRect(QPoint(0, 0), upright) : QRect();
        if (!footprint.isEmpty() && marks.paint)
            RedoUnderMarks(s, arrays, sampling, orientation, footprint, marks, grey, out);

        Compress result(jpeg.size() + jpeg.size() / 8);
        jpeg_copy_critical_parameters(&s, &result.info);
        // Sequential, as the normal path writes; Huffman tables that hold a
        // code for every symbol, so that any re-encoded block can be written
        // with them: the source's own when they are complete (as most
        // cameras' are, and then the file keeps its size), else the
        // standard ones. Fitting new tables would take another pass.
        KeepCompleteHuffmanTables(s, &result.info);
        result.info.restart_interval = s.restart_interval;
        jpeg_write_coefficients(&result.info, arrays);
        jpeg_finish_compress(&result.info);
        jpeg_finish_decompress(&s);
        out->file = std::move(result.bytes);
        return Status::Ok();
    });
}

}  // namespace velda
