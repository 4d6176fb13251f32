// The yardstick for palette output: a plain median cut on a 5-5-5
// histogram, integer Floyd-Steinberg dithering, GIF written with giflib and
// BMP by hand. Not part of the programs, and deliberately not tuned.
//
//   palette_ref IN.jpg OUT.gif|OUT.bmp COLOURS [TRUECOLOUR.bmp]
//
// Decodes IN with TurboJPEG, reduces it to COLOURS (256 or 16) and writes
// OUT; TRUECOLOUR, when given, receives the decoded picture unreduced, for
// measuring the reduction's error.
#include <gif_lib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

std::vector<unsigned char> ReadFile(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Box {
    int lo[3], hi[3];  // inclusive, 0..31 per channel
    long count = 0;
};

int Bin(int r, int g, int b) {
    return (r << 10) | (g << 5) | b;
}

long Count(const std::vector<long>& hist, const Box& box) {
    long n = 0;
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
        for (int g = box.lo[1]; g <= box.hi[1]; ++g)
            for (int b = box.lo[2]; b <= box.hi[2]; ++b)
                n += hist[static_cast<size_t>(Bin(r, g, b))];
    return n;
}

// Shrinks a box to the bins it really holds.
void Shrink(const std::vector<long>& hist, Box* box) {
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    for (int r = box->lo[0]; r <= box->hi[0]; ++r)
        for (int g = box->lo[1]; g <= box->hi[1]; ++g)
            for (int b = box->lo[2]; b <= box->hi[2]; ++b)
                if (hist[static_cast<size_t>(Bin(r, g, b))]) {
                    const int v[3] = {r, g, b};
                    for (int c = 0; c < 3; ++c) {
                        lo[c] = std::min(lo[c], v[c]);
                        hi[c] = std::max(hi[c], v[c]);
                    }
                }
    std::copy(lo, lo + 3, box->lo);
    std::copy(hi, hi + 3, box->hi);
    box->count = Count(hist, *box);
}

std::vector<Rgb> MedianCut(const std::vector<long>& hist, int colours) {
    std::vector<Box> boxes(1);
    boxes[0] = Box{{0, 0, 0}, {31, 31, 31}, 0};
    Shrink(hist, &boxes[0]);
    while (static_cast<int>(boxes.size()) < colours) {
        // The most populous box that can still be split.
        int pick = -1;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const Box& b = boxes[i];
            if (b.lo[0] == b.hi[0] && b.lo[1] == b.hi[1] && b.lo[2] == b.hi[2]) continue;
            if (pick < 0 || b.count > boxes[static_cast<size_t>(pick)].count)
                pick = static_cast<int>(i);
        }
        if (pick < 0) break;
        Box box = boxes[static_cast<size_t>(pick)];
        int axis = 0;
        for (int c = 1; c < 3; ++c)
            if (box.hi[c] - box.lo[c] > box.hi[axis] - box.lo[axis]) axis = c;
        // The median along that axis.
        long half = box.count / 2, seen = 0;
        int cut = box.lo[axis];
        for (int v = box.lo[axis]; v < box.hi[axis]; ++v) {
            Box slice = box;
            slice.lo[axis] = slice.hi[axis] = v;
            seen += Count(hist, slice);
            cut = v;
            if (seen >= half) break;
        }
        Box a = box, b = box;
        a.hi[axis] = cut;
        b.lo[axis] = cut + 1;
        Shrink(hist, &a);
        Shrink(hist, &b);
        boxes[static_cast<size_t>(pick)] = a;
        boxes.push_back(b);
    }
    std::vector<Rgb> palette;
    for (const Box& box : boxes) {
        long s[3] = {0, 0, 0};
        long n = 0;
        for (int r = box.lo[0]; r <= box.hi[0]; ++r)
            for (int g = box.lo[1]; g <= box.hi[1]; ++g)
                for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
                    const long k = hist[static_cast<size_t>(Bin(r, g, b))];
                    s[0] += k * (r * 8 + 4);
                    s[1] += k * (g * 8 + 4);
                    s[2] += k * (b * 8 + 4);
                    n += k;
                }
        if (n == 0) n = 1;
        palette.push_back(
            {static_cast<int>(s[0] / n), static_cast<int>(s[1] / n), static_cast<int>(s[2] / n)});
    }
    return palette;
}

// A BMP file of w x h at bits per pixel with a palette of `entries`,
// headers filled and pixels zero; *stride and *offset say where rows go.
std::vector<unsigned char> BmpFile(int w, int h, int bits, int entries, int* stride, int* offset) {
    *stride = ((w * bits + 31) / 32) * 4;
    *offset = 14 + 40 + entries * 4;
    std::vector<unsigned char> out(static_cast<size_t>(*offset + *stride * h), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, static_cast<uint32_t>(*offset));
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    out[26] = 1;
    out[28] = static_cast<unsigned char>(bits);
    put32(46, static_cast<uint32_t>(entries));
    return out;
}

void Save(const char* path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void WriteBmp(const char* path, int w, int h, const std::vector<unsigned char>& index,
              const std::vector<Rgb>& palette, int bits) {
    int stride = 0, offset = 0;
    std::vector<unsigned char> out = BmpFile(w, h, bits, 1 << bits, &stride, &offset);
    for (size_t i = 0; i < palette.size(); ++i) {
        out[54 + i * 4] = static_cast<unsigned char>(palette[i].b);
        out[55 + i * 4] = static_cast<unsigned char>(palette[i].g);
        out[56 + i * 4] = static_cast<unsigned char>(palette[i].r);
    }
    for (int y = 0; y < h; ++y) {
        unsigned char* row = &out[static_cast<size_t>(offset + (h - 1 - y) * stride)];
        const unsigned char* s = &index[static_cast<size_t>(y) * static_cast<size_t>(w)];
        if (bits == 8) {
            std::memcpy(row, s, static_cast<size_t>(w));
        } else {
            for (int x = 0; x < w; ++x)
                row[x / 2] |= static_cast<unsigned char>(x % 2 ? s[x] : s[x] << 4);
        }
    }
    Save(path, out);
}

bool WriteGif(const char* path, int w, int h, const std::vector<unsigned char>& index,
              const std::vector<Rgb>& palette) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path, false, &error);
    if (!gif) return false;
    std::vector<GifColorType> colours(256, GifColorType{0, 0, 0});
    for (size_t i = 0; i < palette.size(); ++i)
        colours[i] = {static_cast<GifByteType>(palette[i].r),
                      static_cast<GifByteType>(palette[i].g),
                      static_cast<GifByteType>(palette[i].b)};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(
                 gif,
                 const_cast<GifPixelType*>(&index[static_cast<size_t>(y) * static_cast<size_t>(w)]),
                 w) == GIF_OK;
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: palette_ref IN.jpg OUT.gif|OUT.bmp COLOURS [TRUECOLOUR.bmp]\n");
        return 2;
    }
    const int colours = std::atoi(argv[3]);
    const std::vector<unsigned char> jpeg = ReadFile(argv[1]);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs) != 0) return 1;
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    if (tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), w, w * 3, h, TJPF_RGB, 0) != 0)
        return 1;
    tjDestroy(tj);
    if (argc > 4) {
        // The true-colour picture as a 24-bit BMP.
        int stride = 0, offset = 0;
        std::vector<unsigned char> out = BmpFile(w, h, 24, 0, &stride, &offset);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    out[static_cast<size_t>(offset + (h - 1 - y) * stride + x * 3 + c)] =
                        rgb[(static_cast<size_t>(y) * static_cast<size_t>(w) +
                             static_cast<size_t>(x)) *
                                3 +
                            static_cast<size_t>(2 - c)];
        Save(argv[4], out);
    }

    std::vector<long> hist(32768, 0);
    for (size_t i = 0; i < rgb.size(); i += 3)
        ++hist[static_cast<size_t>(Bin(rgb[i] >> 3, rgb[i + 1] >> 3, rgb[i + 2] >> 3))];
    const std::vector<Rgb> palette = MedianCut(hist, colours);
    // Nearest palette entry for each 5-5-5 bin's centre.
    std::vector<unsigned char> nearest(32768);
    for (int bin = 0; bin < 32768; ++bin) {
        const int r = ((bin >> 10) & 31) * 8 + 4, g = ((bin >> 5) & 31) * 8 + 4,
                  b = (bin & 31) * 8 + 4;
        int best = 0, bestD = 1 << 30;
        for (size_t i = 0; i < palette.size(); ++i) {
            const int d = (r - palette[i].r) * (r - palette[i].r) +
                          (g - palette[i].g) * (g - palette[i].g) +
                          (b - palette[i].b) * (b - palette[i].b);
            if (d < bestD) {
                bestD = d;
                best = static_cast<int>(i);
            }
        }
        nearest[static_cast<size_t>(bin)] = static_cast<unsigned char>(best);
    }
    // Floyd-Steinberg, left to right, errors in sixteenths.
    std::vector<unsigned char> index(static_cast<size_t>(w) * static_cast<size_t>(h));
    std::vector<std::array<int, 3>> err(static_cast<size_t>(w) + 2),
        next(static_cast<size_t>(w) + 2);
    for (int y = 0; y < h; ++y) {
        std::fill(next.begin(), next.end(), std::array<int, 3>{0, 0, 0});
        for (int x = 0; x < w; ++x) {
            const size_t p =
                (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
            int v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = std::clamp(rgb[p + static_cast<size_t>(c)] +
                                      err[static_cast<size_t>(x) + 1][static_cast<size_t>(c)] / 16,
                                  0, 255);
            const unsigned char i =
                nearest[static_cast<size_t>(Bin(v[0] >> 3, v[1] >> 3, v[2] >> 3))];
            index[p / 3] = i;
            const int q[3] = {palette[i].r, palette[i].g, palette[i].b};
            for (int c = 0; c < 3; ++c) {
                const int e = v[c] - q[c];
                err[static_cast<size_t>(x) + 2][static_cast<size_t>(c)] += e * 7;
                next[static_cast<size_t>(x)][static_cast<size_t>(c)] += e * 3;
                next[static_cast<size_t>(x) + 1][static_cast<size_t>(c)] += e * 5;
                next[static_cast<size_t>(x) + 2][static_cast<size_t>(c)] += e;
            }
        }
        std::swap(err, next);
    }
    const std::string out = argv[2];
    if (out.size() > 4 && out.substr(out.size() - 4) == ".gif")
        return WriteGif(argv[2], w, h, index, palette) ? 0 : 1;
    WriteBmp(argv[2], w, h, index, palette, colours > 16 ? 8 : 4);
    return 0;
}
