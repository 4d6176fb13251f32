#include "imaging/jpeg_mcu.h"

#include <numbers>

namespace velda::jpeg {

namespace {

// The basis of the 8-point DCT, scaled as JPEG's (orthonormal) transform.
struct DctBasis {
    float c[8][8];
    DctBasis() {
        for (int u = 0; u < 8; ++u) {
            const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
            for (int x = 0; x < 8; ++x)
                c[u][x] =
                    static_cast<float>(scale * std::cos((2 * x + 1) * u * std::numbers::pi / 16));
        }
    }
};

// Quantised DCT of one block of samples (level-shifted already).
void ForwardDct(const float samples[64], const JQUANT_TBL& table, JCOEF* block) {
    static const DctBasis basis;
    float rows[64];  // horizontal pass: rows[y * 8 + u]
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int x = 0; x < 8; ++x)
                sum += basis.c[u][x] * samples[y * 8 + x];
            rows[y * 8 + u] = sum;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int y = 0; y < 8; ++y)
                sum += basis.c[v][y] * rows[y * 8 + u];
            const int k = v * 8 + u;  // natural order, as libjpeg keeps both
            const long q = std::lround(sum / table.quantval[k]);
            block[k] = static_cast<JCOEF>(std::clamp(q, -2047L, 2047L));
        }
}

// Dequantised inverse DCT of one block, samples still level-shifted.
void InverseDct(const JCOEF* block, const JQUANT_TBL& table, float samples[64]) {
    static const DctBasis basis;
    float columns[64];  // vertical pass: columns[y * 8 + u]
    for (int u = 0; u < 8; ++u)
        for (int y = 0; y < 8; ++y) {
            float sum = 0;
            for (int v = 0; v < 8; ++v)
                sum += basis.c[v][y] *
                       static_cast<float>(block[v * 8 + u] * table.quantval[v * 8 + u]);
            columns[y * 8 + u] = sum;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            float sum = 0;
            for (int u = 0; u < 8; ++u)
                sum += basis.c[u][x] * columns[y * 8 + u];
            samples[y * 8 + x] = sum;
        }
}

}  // namespace

QString ReadSampling(const jpeg_decompress_struct& s, Sampling* out) {
    const int hmax = s.max_h_samp_factor, vmax = s.max_v_samp_factor;
    int cellW = 0, cellH = 0;
    for (int c = 0; c < s.num_components; ++c) {
        const jpeg_component_info& comp = s.comp_info[c];
        if (hmax % comp.h_samp_factor || vmax % comp.v_samp_factor)
            return QStringLiteral("sampling");
        Sampling::Component k;
        k.stepX = hmax / comp.h_samp_factor;
        k.stepY = vmax / comp.v_samp_factor;
        // As libjpeg sizes the arrays: whole MCUs of blocks.
        const int h = s.num_components == 1 ? 1 : comp.h_samp_factor;
        const int v = s.num_components == 1 ? 1 : comp.v_samp_factor;
        k.blocksX = static_cast<int>((comp.width_in_blocks + h - 1) / h * h);
        k.blocksY = static_cast<int>((comp.height_in_blocks + v - 1) / v * v);
        cellW = std::max(cellW, 8 * k.stepX);
        cellH = std::max(cellH, 8 * k.stepY);
        out->components.push_back(k);
    }
    for (const auto& k : out->components)
        if (cellW % (8 * k.stepX) || cellH % (8 * k.stepY)) return QStringLiteral("sampling");
    out->cellW = cellW;
    out->cellH = cellH;
    return QString();
}

void DecodeCell(jpeg_decompress_struct& s, jvirt_barray_ptr* arrays, const Sampling& sampling,
                QPoint cell, CellPlanes* planes) {
    const int cw = sampling.cellW, ch = sampling.cellH;
    planes->assign(static_cast<size_t>(3 * cw * ch), 128.0f);
    for (int c = 0; c < s.num_components; ++c) {
        const Sampling::Component& k = sampling.components[static_cast<size_t>(c)];
        const JQUANT_TBL& table = *s.comp_info[c].quant_table;
        float* plane = planes->data() + c * cw * ch;
        ForEachBlock(sampling, c, cell, [&](int row, int column, QPoint at) {
            float samples[64];
            InverseDct(BlockRow(s, arrays[c], row, false)[column], table, samples);
            for (int y = 0; y < 8 * k.stepY; ++y)
                for (int x = 0; x < 8 * k.stepX; ++x)
                    plane[(at.y() + y) * cw + at.x() + x] =
                        samples[(y / k.stepY) * 8 + x / k.stepX] + 128.0f;
        });
    }
}

void EncodeCell(jpeg_decompress_struct& s, jvirt_barray_ptr* arrays, const Sampling& sampling,
                QPoint cell, const CellPlanes& planes) {
    const int cw = sampling.cellW, ch = sampling.cellH;
    for (int c = 0; c < s.num_components; ++c) {
        const Sampling::Component& k = sampling.components[static_cast<size_t>(c)];
        const JQUANT_TBL& table = *s.comp_info[c].quant_table;
        const float* plane = planes.data() + c * cw * ch;
        const float area = static_cast<float>(k.stepX * k.stepY);
        ForEachBlock(sampling, c, cell, [&](int row, int column, QPoint at) {
            float samples[64];
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    float sum = 0;
                    for (int dy = 0; dy < k.stepY; ++dy)
                        for (int dx = 0; dx < k.stepX; ++dx)
                            sum +=
                                plane[(at.y() + j * k.stepY + dy) * cw + at.x() + i * k.stepX + dx];
                    samples[j * 8 + i] = sum / area - 128.0f;
                }
            ForwardDct(samples, table, BlockRow(s, arrays[c], row, true)[column]);
        });
    }
}

QRgb ToRgb(float y, float cb, float cr, bool grey) {
    if (grey) return qRgb(ToByte(y), ToByte(y), ToByte(y));
    cb -= 128.0f;
    cr -= 128.0f;
    return qRgb(ToByte(y + 1.402f * cr), ToByte(y - 0.344136f * cb - 0.714136f * cr),
                ToByte(y + 1.772f * cb));
}
void ToYcc(QRgb p, float* y, float* cb, float* cr) {
    const float r = static_cast<float>(qRed(p)), g = static_cast<float>(qGreen(p)),
                b = static_cast<float>(qBlue(p));
    *y = 0.299f * r + 0.587f * g + 0.114f * b;
    *cb = -0.168736f * r - 0.331264f * g + 0.5f * b + 128.0f;
    *cr = 0.5f * r - 0.418688f * g - 0.081312f * b + 128.0f;
}

}  // namespace velda::jpeg
