#pragma once

// One MCU of a JPEG's DCT blocks decoded to pixels and encoded back, as the
// marking that keeps the other blocks needs them: the DCT kernels, the
// components' sampling geometry and JFIF's colour conversions.
#include <QPoint>
#include <QRgb>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>  // jpeglib.h needs FILE
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace velda::jpeg {

// The geometry of the source's components.
struct Sampling {
    int cellW = 8, cellH = 8;  // the pixels of one MCU of the interleaved scan
    struct Component {
        int stepX = 1, stepY = 1;      // picture pixels per sample
        int blocksX = 0, blocksY = 0;  // blocks the coefficient arrays hold
    };
    std::vector<Component> components;
};

// Empty when the sampling factors divide evenly, else why not.
QString ReadSampling(const jpeg_decompress_struct& s, Sampling* out);

// Planes of one MCU at full pixel resolution (chroma repeated over the
// pixels each sample covers): Y, Cb, Cr one after the other.
using CellPlanes = std::vector<float>;

inline JBLOCKROW BlockRow(jpeg_decompress_struct& s, jvirt_barray_ptr array, int row, bool write) {
    return (*s.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&s), array,
                                        static_cast<JDIMENSION>(row), 1, write ? TRUE : FALSE)[0];
}

// Visits the blocks of one MCU of component c: f(block row, block column,
// the block's top-left pixel within the cell).
template <typename F>
void ForEachBlock(const Sampling& sampling, int c, QPoint cell, F f) {
    const Sampling::Component& k = sampling.components[static_cast<size_t>(c)];
    const int bw = 8 * k.stepX, bh = 8 * k.stepY;
    for (int by = 0; by < sampling.cellH / bh; ++by) {
        const int row = cell.y() * (sampling.cellH / bh) + by;
        if (row >= k.blocksY) break;
        for (int bx = 0; bx < sampling.cellW / bw; ++bx) {
            const int column = cell.x() * (sampling.cellW / bw) + bx;
            if (column >= k.blocksX) break;
            f(row, column, QPoint(bx * bw, by * bh));
        }
    }
}

// Decodes one MCU from its coefficients.
void DecodeCell(jpeg_decompress_struct& s, jvirt_barray_ptr* arrays, const Sampling& sampling,
                QPoint cell, CellPlanes* planes);
// Encodes one MCU again from its planes, each sample the mean of the
// pixels it covers.
void EncodeCell(jpeg_decompress_struct& s, jvirt_barray_ptr* arrays, const Sampling& sampling,
                QPoint cell, const CellPlanes& planes);

inline int ToByte(float v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

// JFIF's full-range conversions.
QRgb ToRgb(float y, float cb, float cr, bool grey);
void ToYcc(QRgb p, float* y, float* cb, float* cr);

}  // namespace velda::jpeg
