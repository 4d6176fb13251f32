#include "imaging/invisible_mark.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <new>

#include "imaging/invisible_code.h"

namespace velda {

namespace invisible {

namespace {

// A fixed key: every copy of the program makes and finds the same tiles.
constexpr uint64_t kKey = 0x56656c6461204d6bULL;

uint64_t SplitMix(uint64_t* state) {
    uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// ------------------------------------------------------------- the coding

// The form in 8 bits: 2 for decimal, hex or text, 4 for the hex digits, 2
// for their case and the x's.
uint8_t FormByte(const InvisiblePayload& p) {
    int b = static_cast<int>(p.form);
    if (p.form == InvisiblePayload::Form::Hex)
        b |= (std::clamp(p.hexDigits, 1, 16) - 1) << 2 | (p.upperDigits ? 0x40 : 0) |
             (p.upperX ? 0x80 : 0);
    return static_cast<uint8_t>(b);
}

// The 24-bit check of OpenPGP (polynomial 0x864CFB), started from the key
// so that no run of equal bits passes it.
uint64_t Check(const std::vector<uint8_t>& bits) {
    constexpr uint64_t kPoly = 0x864cfbULL, kTop = 1ULL << (kCheckBits - 1),
                       kMask = (1ULL << kCheckBits) - 1;
    uint64_t crc = kKey & kMask;
    for (uint8_t b : bits) {
        const bool feedback = ((crc & kTop) != 0) != (b != 0);
        crc = (crc << 1) & kMask;
        if (feedback) crc ^= kPoly;
    }
    return crc;
}

std::vector<uint8_t> InfoBits(const InvisiblePayload& p) {
    std::vector<uint8_t> bits;
    for (int i = 63; i >= 0; --i)
        bits.push_back(static_cast<uint8_t>((p.value >> i) & 1));
    const uint8_t form = FormByte(p);
    for (int i = 7; i >= 0; --i)
        bits.push_back(static_cast<uint8_t>((form >> i) & 1));
    return bits;
}

// Rate 1/3, constraint length 7: the generators 133, 171 and 165 (octal).
constexpr std::array<int, 3> kGenerators = {0133, 0171, 0165};

int Parity(int v) {
    return __builtin_parity(static_cast<unsigned>(v));
}

}  // namespace

std::vector<uint8_t> EncodePayload(const InvisiblePayload& payload) {
    std::vector<uint8_t> bits = InfoBits(payload);
    const uint64_t check = Check(bits);
    for (int i = kCheckBits - 1; i >= 0; --i)
        bits.push_back(static_cast<uint8_t>((check >> i) & 1));
    bits.resize(bits.size() + kTailBits, 0);
    std::vector<uint8_t> coded;
    coded.reserve(kCodedBits);
    int reg = 0;
    for (uint8_t b : bits) {
        reg = ((reg << 1) | b) & 0x7f;
        for (int g : kGenerators)
            coded.push_back(static_cast<uint8_t>(Parity(reg & g)));
    }
    return coded;
}

std::optional<InvisiblePayload> DecodePayload(const std::vector<float>& soft) {
    if (soft.size() != static_cast<size_t>(kCodedBits)) return std::nullopt;
    constexpr int kStates = 64, kSteps = kInfoBits + kCheckBits + kTailBits;
    constexpr float kNone = -1e30f;
    std::array<float, kStates> metric;
    metric.fill(kNone);
    metric[0] = 0;
    // The state each state came from at each step.
    std::vector<std::array<uint8_t, kStates>> from(kSteps);
    // What each branch (7 bits of register) sends, +1 for a 0 bit.
    std::array<std::array<float, 3>, 128> sends;
    for (int reg = 0; reg < 128; ++reg) {
        for (int k = 0; k < 3; ++k)
            sends[reg][k] = Parity(reg & kGenerators[k]) ? -1.0f : 1.0f;
    }
    for (int step = 0; step < kSteps; ++step) {
        std::array<float, kStates> next;
        next.fill(kNone);
        const float* r = &soft[3 * step];
        const bool tail = step >= kInfoBits + kCheckBits;
        for (int s = 0; s < kStates; ++s) {
            if (metric[s] == kNone) continue;
            for (int b = 0; b <= (tail ? 0 : 1); ++b) {
                const int reg = (s << 1) | b;
                const int to = reg & 0x3f;
                const float m =
                    metric[s] + r[0] * sends[reg][0] + r[1] * sends[reg][1] + r[2] * sends[reg][2];
                if (m > next[to]) {
                    next[to] = m;
                    from[step][to] = static_cast<uint8_t>(s);
                }
            }
        }
        metric = next;
    }
    std::vector<uint8_t> bits(kSteps);
    int s = 0;
    for (int step = kSteps - 1; step >= 0; --step) {
        bits[step] = static_cast<uint8_t>(s & 1);
        s = from[step][s];
    }
    bits.resize(kInfoBits + kCheckBits);
    uint64_t check = 0;
    for (int i = 0; i < kCheckBits; ++i)
        check = (check << 1) | bits[kInfoBits + i];
    bits.resize(kInfoBits);
    if (Check(bits) != check) return std::nullopt;
    InvisiblePayload p;
    for (int i = 0; i < 64; ++i)
        p.value = (p.value << 1) | bits[i];
    int form = 0;
    for (int i = 64; i < 72; ++i)
        form = (form << 1) | bits[i];
    switch (form & 3) {
        case 0:
            if (form != 0) return std::nullopt;
            break;
        case 1:
            p.form = InvisiblePayload::Form::Hex;
            p.hexDigits = ((form >> 2) & 15) + 1;
            p.upperDigits = (form & 0x40) != 0;
            p.upperX = (form & 0x80) != 0;
            break;
        case 2:
            if (form != 2) return std::nullopt;
            p.form = InvisiblePayload::Form::Text;
            break;
        default:
            return std::nullopt;
    }
    return p;
}

const std::vector<CellRole>& CellRoles() {
    static const std::vector<CellRole> roles = [] {
        uint64_t state = kKey;
        std::vector<int> order(kCells);
        for (int i = 0; i < kCells; ++i)
            order[i] = i;
        for (int i = kCells - 1; i > 0; --i)
            std::swap(order[i], order[SplitMix(&state) % static_cast<uint64_t>(i + 1)]);
        std::vector<CellRole> out(kCells);
        for (int k = 0; k < kCells; ++k) {
            const float sign = (SplitMix(&state) & 1) ? 1.0f : -1.0f;
            out[order[k]] = {k < kSyncCells ? -1 : (k - kSyncCells) % kCodedBits, sign};
        }
        return out;
    }();
    return roles;
}

std::vector<float> TileValues(const InvisiblePayload& payload) {
    const std::vector<uint8_t> coded = EncodePayload(payload);
    const std::vector<CellRole>& roles = CellRoles();
    std::vector<float> tile(kCells);
    for (int c = 0; c < kCells; ++c) {
        const CellRole& r = roles[c];
        tile[c] = r.bit < 0 ? r.sign : (coded[r.bit] ? -r.sign : r.sign);
    }
    return tile;
}

int CellSide(int width, int height) {
    return std::max(1, static_cast<int>(std::lround(std::max(width, height) / 256.0)));
}

// ---------------------------------------------------------- the detection

namespace {

// Means over squares of side 2r+1, cut at the edges.
std::vector<float> BoxMean(const std::vector<float>& in, int w, int h, int r) {
    std::vector<double> integral(static_cast<size_t>(w + 1) * (h + 1), 0.0);
    for (int y = 0; y < h; ++y) {
        double row = 0;
        for (int x = 0; x < w; ++x) {
            row += in[static_cast<size_t>(y) * w + x];
            integral[static_cast<size_t>(y + 1) * (w + 1) + x + 1] =
                integral[static_cast<size_t>(y) * (w + 1) + x + 1] + row;
        }
    }
    std::vector<float> out(in.size());
    for (int y = 0; y < h; ++y) {
        const int y0 = std::max(0, y - r), y1 = std::min(h, y + r + 1);
        for (int x = 0; x < w; ++x) {
            const int x0 = std::max(0, x - r), x1 = std::min(w, x + r + 1);
            const double sum = integral[static_cast<size_t>(y1) * (w + 1) + x1] -
                               integral[static_cast<size_t>(y0) * (w + 1) + x1] -
                               integral[static_cast<size_t>(y1) * (w + 1) + x0] +
                               integral[static_cast<size_t>(y0) * (w + 1) + x0];
            out[static_cast<size_t>(y) * w + x] = static_cast<float>(sum / ((y1 - y0) * (x1 - x0)));
        }
    }
    return out;
}

// FFTW's planner is not safe to call from two threads; its plans are.
std::mutex& PlannerMutex() {
    static std::mutex m;
    return m;
}

struct FloatBuffer {
    explicit FloatBuffer(size_t n) : p(static_cast<float*>(fftwf_malloc(sizeof(float) * n))) {
        if (!p) throw std::bad_alloc();
    }
    ~FloatBuffer() { fftwf_free(p); }
    FloatBuffer(const FloatBuffer&) = delete;
    FloatBuffer& operator=(const FloatBuffer&) = delete;
    float* p;
};

// The circular autocorrelation of a w x h field, in place of the field.
void AutoCorrelate(float* field, int w, int h) {
    const size_t half = static_cast<size_t>(h) * (w / 2 + 1);
    FloatBuffer spectrum(2 * half);
    auto* freq = reinterpret_cast<fftwf_complex*>(spectrum.p);
    fftwf_plan forward, back;
    {
        std::lock_guard lock(PlannerMutex());
        forward = fftwf_plan_dft_r2c_2d(h, w, field, freq, FFTW_ESTIMATE);
        back = fftwf_plan_dft_c2r_2d(h, w, freq, field, FFTW_ESTIMATE);
    }
    fftwf_execute(forward);
    // The magnitude rather than the power: the picture's strongest
    // frequencies weigh less against the tiles' lines.
    for (size_t i = 0; i < half; ++i) {
        freq[i][0] = std::sqrt(freq[i][0] * freq[i][0] + freq[i][1] * freq[i][1]);
        freq[i][1] = 0;
    }
    fftwf_execute(back);
    std::lock_guard lock(PlannerMutex());
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(back);
}

// The largest length up to n whose only factors are 2, 3 and 5, which
// FFTW transforms fastest.
int SmoothLength(int n) {
    for (int m = n; m > 1; --m) {
        int k = m;
        for (int f : {2, 3, 5})
            while (k % f == 0)
                k /= f;
        if (k == 1) return m;
    }
    return 1;
}

struct Peak {
    double x, y, value;
};

class Correlogram {
  public:
    Correlogram(std::vector<float> a, int w, int h) : a_(std::move(a)), w_(w), h_(h) {}
    float At(int dx, int dy) const {
        const int x = ((dx % w_) + w_) % w_, y = ((dy % h_) + h_) % h_;
        return a_[static_cast<size_t>(y) * w_ + x];
    }
    // The highest point within radius of (x, y), to a fraction of a pixel.
    Peak Refine(double x, double y, int radius) const {
        int bx = static_cast<int>(std::lround(x)), by = static_cast<int>(std::lround(y));
        float best = -1e30f;
        const int cx = bx, cy = by;
        for (int dy = -radius; dy <= radius; ++dy) {
            for (int dx = -radius; dx <= radius; ++dx) {
                const float v = At(cx + dx, cy + dy);
                if (v > best) {
                    best = v;
                    bx = cx + dx;
                    by = cy + dy;
                }
            }
        }
        auto offset = [](float l, float c, float r) {
            const float d = l - 2 * c + r;
            return d < 0 ? std::clamp(0.5 * (l - r) / d, -0.5, 0.5) : 0.0;
        };
        return {bx + offset(At(bx - 1, by), best, At(bx + 1, by)),
                by + offset(At(bx, by - 1), best, At(bx, by + 1)), best};
    }

  private:
    std::vector<float> a_;
    int w_, h_;
};

// A period vector made exact from the peaks at its multiples.
Peak RefinePeriod(const Correlogram& c, Peak p, double reach) {
    double sx = p.x, sy = p.y, weight = 1;
    const double length = std::hypot(p.x, p.y);
    for (int k = 2; k * length <= reach; ++k) {
        const Peak q = c.Refine(k * sx / weight, k * sy / weight, 2);
        if (q.value < 0.3 * p.value) break;
        // Each multiple weighs as the precision it gives.
        sx += q.x;
        sy += q.y;
        weight += k;
    }
    return {sx / weight, sy / weight, p.value};
}

// The field's spectrum divided by its own smoothed magnitude: the
// picture's content, strong at low frequencies and along its edges'
// directions, weighs as little as the noise, while the tiles' spectral
// lines, narrower than the smoothing, keep standing out.
void FlattenSpectrum(std::vector<float>* field, int w, int h) {
    const int half = w / 2 + 1;
    std::vector<fftwf_complex> freq(static_cast<size_t>(h) * half);
    fftwf_plan forward, back;
    {
        std::lock_guard lock(PlannerMutex());
        forward = fftwf_plan_dft_r2c_2d(h, w, field->data(), freq.data(), FFTW_ESTIMATE);
        back = fftwf_plan_dft_c2r_2d(h, w, freq.data(), field->data(), FFTW_ESTIMATE);
    }
    fftwf_execute(forward);
    std::vector<float> magnitude(freq.size());
    for (size_t i = 0; i < freq.size(); ++i)
        magnitude[i] = std::hypot(freq[i][0], freq[i][1]);
    const std::vector<float> smooth = BoxMean(magnitude, half, h, 6);
    const float scale = 1.0f / (static_cast<float>(w) * static_cast<float>(h));
    for (size_t i = 0; i < freq.size(); ++i) {
        const float g = scale / (smooth[i] + 1e-3f);
        freq[i][0] *= g;
        freq[i][1] *= g;
    }
    fftwf_execute(back);
    std::lock_guard lock(PlannerMutex());
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(back);
}

}  // namespace

std::vector<float> Whiten(const std::vector<float>& luma, int w, int h) {
    const std::vector<float> mean = BoxMean(luma, w, h, 3);
    std::vector<float> out(luma.size()), energy(luma.size());
    for (size_t i = 0; i < luma.size(); ++i) {
        out[i] = luma[i] - mean[i];
        energy[i] = out[i] * out[i];
    }
    const std::vector<float> local = BoxMean(energy, w, h, 7);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] /= std::sqrt(local[i] + 1.0f);
    FlattenSpectrum(&out, w, h);
    return out;
}

std::vector<Lattice> FindLattices(const std::vector<float>& whitened, int width, int height,
                                  int most) {
    const int w = SmoothLength(width), h = SmoothLength(height);
    if (w < 96 || h < 96) return {};
    const int left = (width - w) / 2, top = (height - h) / 2;
    FloatBuffer field(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        std::copy_n(&whitened[static_cast<size_t>(y + top) * width + left], w,
                    &field.p[static_cast<size_t>(y) * w]);
    }
    AutoCorrelate(field.p, w, h);
    const Correlogram c(std::vector<float>(field.p, field.p + static_cast<size_t>(w) * h), w, h);

    // The tiles' period along the rows: a peak near the horizontal axis,
    // within a turn of 10 degrees either way.
    constexpr int kShortest = 40;
    const double slope = std::tan(10.0 * M_PI / 180.0);
    const int longest = static_cast<int>(0.6 * std::min(w, h));
    // A peak counts by how far it stands above the correlogram around
    // it, which falls slowly with the lag, and by its partner a quarter
    // turn away: square tiles have both, the picture's own structures
    // seldom.
    auto prominence = [&c](double x, double y) {
        const Peak p = c.Refine(x, y, 1);
        double ring = 0;
        for (int k = 0; k < 16; ++k) {
            const double a = k * M_PI / 8;
            ring += c.At(static_cast<int>(std::lround(p.x + 8 * std::cos(a))),
                         static_cast<int>(std::lround(p.y + 8 * std::sin(a))));
        }
        return p.value - ring / 16;
    };
    std::vector<Peak> peaks;
    for (int dx = kShortest; dx <= longest; ++dx) {
        const int reach = static_cast<int>(dx * slope) + 1;
        for (int dy = -reach; dy <= reach; ++dy) {
            const float v = c.At(dx, dy);
            bool highest = true;
            for (int ny = -1; ny <= 1 && highest; ++ny) {
                for (int nx = -1; nx <= 1 && highest; ++nx)
                    highest = (nx == 0 && ny == 0) || c.At(dx + nx, dy + ny) < v;
            }
            if (highest) peaks.push_back({static_cast<double>(dx), static_cast<double>(dy), v});
        }
    }
    // The highest few by value, then by standing.
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& a, const Peak& b) { return a.value > b.value; });
    if (peaks.size() > 200) peaks.resize(200);
    // A lattice has peaks at the sums of its vectors too: each candidate
    // counts by the standing of all of them that the correlogram holds,
    // which the picture's own chance peaks seldom share.
    auto latticeStanding = [&](double x, double y) {
        double total = 0;
        for (const auto& [i, j] : {std::pair{1, 0}, {0, 1}, {1, 1}, {1, -1}, {2, 0}, {0, 2}}) {
            const double px = i * x - j * y, py = i * y + j * x;
            if (std::abs(px) < w / 2 && std::abs(py) < h / 2) total += prominence(px, py);
        }
        return total;
    };
    for (Peak& p : peaks)
        p.value = latticeStanding(p.x, p.y);
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& a, const Peak& b) { return a.value > b.value; });

    std::vector<Lattice> out;
    std::vector<Peak> seen;
    for (const Peak& candidate : peaks) {
        if (static_cast<int>(out.size()) >= most || static_cast<int>(seen.size()) >= 4 * most)
            break;
        // The highest peak may be a multiple of the period: the shortest
        // vector whose multiple it is, and that has a peak as high, is.
        Peak p = candidate;
        const double standing = prominence(candidate.x, candidate.y);
        // (every multiple of that vector up to the peak standing out too:
        // the ridges of a picture's horizontal lines do not).
        for (int k = 5; k >= 2; --k) {
            if (std::hypot(candidate.x, candidate.y) / k < kShortest) continue;
            bool all = true;
            for (int j = 1; j < k && all; ++j)
                all = prominence(candidate.x * j / k, candidate.y * j / k) >= 0.6 * standing;
            if (all) {
                p = c.Refine(candidate.x / k, candidate.y / k, 1);
                break;
            }
        }
        bool known = false;
        for (const Peak& s : seen)
            known = known || std::hypot(s.x - p.x, s.y - p.y) < 3;
        seen.push_back(p);
        if (known) continue;
        const Peak along = RefinePeriod(c, c.Refine(p.x, p.y, 1), 0.5 * w);
        // Square tiles: the period along the columns is the same turned by
        // a quarter.
        const Peak down = RefinePeriod(c, c.Refine(-along.y, along.x, 1), 0.5 * h);
        out.push_back({along.x, along.y, down.x, down.y});
    }
    return out;
}

}  // namespace invisible

using namespace invisible;

namespace {

// Luminance of a row of pixels, Rec. 601 weights.
inline float Luma(QRgb p) {
    return 0.299f * static_cast<float>(qRed(p)) + 0.587f * static_cast<float>(qGreen(p)) +
           0.114f * static_cast<float>(qBlue(p));
}

// The same in whole levels, for sums.
inline uint32_t LumaLevel(QRgb p) {
    return (77u * static_cast<uint32_t>(qRed(p)) + 150u * static_cast<uint32_t>(qGreen(p)) +
            29u * static_cast<uint32_t>(qBlue(p))) >>
           8;
}

bool IsGrey(const QImage& image) {
    return image.format() == QImage::Format_Indexed8 && image.colorTable() == GreyPalette();
}

// The RMS change, in levels, of each step of strength.
constexpr double kLevelsPerStrength = 0.36;
// The local contrast (standard deviation in levels) at which the noise is
// drawn at its nominal strength, and the least and most it is scaled by:
// flat sky gets a quarter, busy texture up to three times.
constexpr double kNominalContrast = 10, kFlattest = 0.25, kBusiest = 3.0;

}  // namespace

qint64 InvisibleWorkingBytes(QSize picture) {
    const qint64 side = CellSide(picture.width(), picture.height());
    const qint64 cells = (picture.width() / side + 1) * (picture.height() / side + 1);
    return cells * 24 + kCells * 4;
}

Status EmbedInvisible(Picture* picture, const InvisiblePayload& payload, int strength) {
    if (!picture || picture->isNull()) return Status::Error(ErrorCode::NoPicture);
    if (strength < kMinInvisibleStrength || strength > kMaxInvisibleStrength)
        return Status::Error(ErrorCode::BadArgument,
                             QStringLiteral("invisible mark strength %1").arg(strength));
    QImage& image = picture->image;
    const bool grey = IsGrey(image);
    if (!grey && image.format() == QImage::Format_Indexed8) {
        if (Status s = ToTrueColour(picture); !s.ok()) return s;
    }
    const int w = image.width(), h = image.height();
    const int side = CellSide(w, h);
    const int gw = (w + side - 1) / side, gh = (h + side - 1) / side;
    // The contrast around each cell, from the sums over its cell and its
    // eight neighbours.
    std::vector<double> sum(static_cast<size_t>(gw) * gh), sum2(sum.size());
    std::vector<int> count(sum.size());
    // Every other row of cells of 4 pixels or more tells their contrast
    // well enough, in half the time.
    const int rowStep = side >= 4 ? 2 : 1;
    for (int y = 0; y < h; y += rowStep) {
        const uchar* line = image.constScanLine(y);
        const auto* rgb = reinterpret_cast<const QRgb*>(line);
        const size_t row = static_cast<size_t>(y / side) * gw;
        for (int gx = 0, x0 = 0; gx < gw; ++gx, x0 += side) {
            const int x1 = std::min(w, x0 + side);
            uint32_t s1 = 0;
            uint64_t s2 = 0;
            for (int x = x0; x < x1; ++x) {
                const uint32_t l = grey ? line[x] : LumaLevel(rgb[x]);
                s1 += l;
                s2 += l * l;
            }
            sum[row + gx] += s1;
            sum2[row + gx] += static_cast<double>(s2);
            count[row + gx] += x1 - x0;
        }
    }
    std::vector<float> gain(sum.size());
    double energy = 0;
    for (int gy = 0; gy < gh; ++gy) {
        for (int gx = 0; gx < gw; ++gx) {
            double s = 0, s2 = 0;
            int n = 0;
            for (int ny = std::max(0, gy - 1); ny <= std::min(gh - 1, gy + 1); ++ny) {
                for (int nx = std::max(0, gx - 1); nx <= std::min(gw - 1, gx + 1); ++nx) {
                    const size_t k = static_cast<size_t>(ny) * gw + nx;
                    s += sum[k];
                    s2 += sum2[k];
                    n += count[k];
                }
            }
            const double mean = s / n, deviation = std::sqrt(std::max(0.0, s2 / n - mean * mean));
            const double g = std::clamp(deviation / kNominalContrast, kFlattest, kBusiest);
            gain[static_cast<size_t>(gy) * gw + gx] = static_cast<float>(g);
            energy += g * g * count[static_cast<size_t>(gy) * gw + gx];
        }
    }
    // Scaled so that the change stays within its strength's RMS, whatever
    // the picture holds: a busy picture is not changed more than a calm one.
    double counted = 0;
    for (int n : count)
        counted += n;
    const double rms = std::sqrt(energy / std::max(1.0, counted));
    const double level = kLevelsPerStrength * strength / std::max(1.0, rms);
    const std::vector<float> tile = TileValues(payload);
    for (float& g : gain)
        g *= static_cast<float>(level);

    // Dithered to whole levels, so that changes under half a level are
    // kept on average rather than lost to rounding: a cell's change c adds
    // floor(c) to each pixel, and one more where the dither is below its
    // fraction. The dither is a row of noise, read from a place of its own
    // in each picture row.
    static const std::array<uint8_t, 4096> dither = [] {
        std::array<uint8_t, 4096> d{};
        uint64_t state = kKey;
        for (uint8_t& v : d)
            v = static_cast<uint8_t>(SplitMix(&state) >> 56);
        return d;
    }();
    std::vector<int> whole(static_cast<size_t>(gw)), part(static_cast<size_t>(gw));
    for (int y = 0; y < h; ++y) {
        uchar* line = image.scanLine(y);
        auto* rgb = reinterpret_cast<QRgb*>(line);
        const size_t row = static_cast<size_t>(y / side) * gw;
        const float* tileRow = &tile[static_cast<size_t>((y / side) % kTile) * kTile];
        if (y % side == 0) {
            for (int gx = 0; gx < gw; ++gx) {
                const float change = gain[row + gx] * tileRow[gx % kTile];
                whole[gx] = static_cast<int>(std::floor(change));
                part[gx] = static_cast<int>(256.0f * (change - std::floor(change)));
            }
        }
        uint64_t seed = kKey ^ static_cast<uint64_t>(y);
        const auto start = static_cast<int>(SplitMix(&seed) & 4095);
        for (int gx = 0, x0 = 0; gx < gw; ++gx, x0 += side) {
            const int x1 = std::min(w, x0 + side), base = whole[gx], fraction = part[gx];
            if (base == 0 && fraction == 0) continue;
            for (int x = x0; x < x1; ++x) {
                const int step = base + (dither[(start + x) & 4095] < fraction ? 1 : 0);
                if (step == 0) continue;
                if (grey) {
                    line[x] = static_cast<uchar>(std::clamp(line[x] + step, 0, 255));
                    continue;
                }
                const QRgb p = rgb[x];
                rgb[x] =
                    qRgba(std::clamp(qRed(p) + step, 0, 255), std::clamp(qGreen(p) + step, 0, 255),
                          std::clamp(qBlue(p) + step, 0, 255), qAlpha(p));
            }
        }
    }
    return Status::Ok();
}

namespace {

// The longest side the detector looks at: larger pictures are averaged
// down to it, which also averages their noise away.
constexpr int kDetectSide = 512;
// The lattices read: the picture's own, those found in its correlogram,
// and those of parts cut from a larger picture. A reading is decoded only
// when its known cells stand out of the tile's other offsets by
// kSyncStanding spreads, which the best of 4096 offsets of a picture
// without a mark does with a chance of 4096 x Q(6) = 4.1 x 10^-6; such a
// reading then passes the 24-bit check with a chance of 2^-24 = 6 x 10^-8.
// At most 300 tiles are folded for a picture, so one without a mark is
// read as marked with a chance below 300 x 4.1 x 10^-6 x 6 x 10^-8 =
// 7.4 x 10^-11.
constexpr int kLatticeTries = 8;
constexpr size_t kCutTries = 2;
constexpr double kSyncStanding = 6.0;
// The folded tile holds two bins a cell each way, so that the tile's
// offset is found to half a cell.
constexpr int kBins = 2 * kTile;

// The known cells as a tile of bins, transformed once.
const std::vector<fftwf_complex>& SyncSpectrum() {
    static const std::vector<fftwf_complex> spectrum = [] {
        FloatBuffer bins(kBins * kBins);
        std::fill_n(bins.p, kBins * kBins, 0.0f);
        const std::vector<CellRole>& roles = CellRoles();
        for (int c = 0; c < kCells; ++c) {
            if (roles[c].bit >= 0) continue;
            const int cx = c % kTile, cy = c / kTile;
            for (int k = 0; k < 4; ++k)
                bins.p[(2 * cy + k / 2) * kBins + 2 * cx + k % 2] = roles[c].sign;
        }
        std::vector<fftwf_complex> out(kBins * (kBins / 2 + 1));
        std::lock_guard lock(PlannerMutex());
        fftwf_plan plan = fftwf_plan_dft_r2c_2d(kBins, kBins, bins.p, out.data(), FFTW_ESTIMATE);
        fftwf_execute(plan);
        fftwf_destroy_plan(plan);
        return out;
    }();
    return spectrum;
}

// The whitened picture summed into one tile of bins along a lattice.
std::vector<float> Fold(const std::vector<float>& white, int w, int h, const Lattice& l) {
    std::vector<float> folded(kBins * kBins, 0.0f);
    const double det = l.x1 * l.y2 - l.x2 * l.y1;
    if (std::abs(det) < 1) return folded;
    // From pixels to bins.
    const double scale = kBins / det;
    const double a11 = l.y2 * scale, a12 = -l.x2 * scale, a21 = -l.y1 * scale, a22 = l.x1 * scale;
    std::vector<int> count(kBins * kBins, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // The pixel's centre, so that a pixel holding a whole cell sits
            // in its middle.
            const double px = x + 0.5, py = y + 0.5;
            const auto u = static_cast<long>(std::floor(a11 * px + a12 * py));
            const auto v = static_cast<long>(std::floor(a21 * px + a22 * py));
            const int bu = static_cast<int>(((u % kBins) + kBins) % kBins);
            const int bv = static_cast<int>(((v % kBins) + kBins) % kBins);
            folded[bv * kBins + bu] += white[static_cast<size_t>(y) * w + x];
            ++count[bv * kBins + bu];
        }
    }
    for (int i = 0; i < kBins * kBins; ++i) {
        if (count[i] > 0) folded[i] /= static_cast<float>(count[i]);
    }
    return folded;
}

// Where the known cells correlate best with a folded tile: the tile's
// offset in bins, and how far that correlation stands above the others'
// spread.
struct Offset {
    int x, y;
    double standing;
};
Offset FindOffset(std::vector<float> folded) {
    std::vector<fftwf_complex> spectrum(kBins * (kBins / 2 + 1));
    FloatBuffer correlation(kBins * kBins);
    fftwf_plan forward, back;
    {
        std::lock_guard lock(PlannerMutex());
        forward =
            fftwf_plan_dft_r2c_2d(kBins, kBins, folded.data(), spectrum.data(), FFTW_ESTIMATE);
        back = fftwf_plan_dft_c2r_2d(kBins, kBins, spectrum.data(), correlation.p, FFTW_ESTIMATE);
    }
    fftwf_execute(forward);
    const std::vector<fftwf_complex>& sync = SyncSpectrum();
    for (size_t i = 0; i < spectrum.size(); ++i) {
        const float re = spectrum[i][0] * sync[i][0] + spectrum[i][1] * sync[i][1];
        const float im = spectrum[i][1] * sync[i][0] - spectrum[i][0] * sync[i][1];
        spectrum[i][0] = re;
        spectrum[i][1] = im;
    }
    fftwf_execute(back);
    {
        std::lock_guard lock(PlannerMutex());
        fftwf_destroy_plan(forward);
        fftwf_destroy_plan(back);
    }
    const float* c = correlation.p;
    const int n = kBins * kBins;
    const int best = static_cast<int>(std::max_element(c, c + n) - c);
    double mean = 0, square = 0;
    for (int i = 0; i < n; ++i) {
        mean += c[i];
        square += static_cast<double>(c[i]) * c[i];
    }
    mean /= n;
    const double spread = std::sqrt(std::max(1e-30, square / n - mean * mean));
    return {best % kBins, best / kBins, (c[best] - mean) / spread};
}

// Each coded bit's soft value in a folded tile at its offset.
std::vector<float> SoftBits(const std::vector<float>& folded, const Offset& offset) {
    std::vector<float> soft(kCodedBits, 0.0f);
    const std::vector<CellRole>& roles = CellRoles();
    for (int c = 0; c < kCells; ++c) {
        if (roles[c].bit < 0) continue;
        const int cx = c % kTile, cy = c / kTile;
        float v = 0;
        for (int k = 0; k < 4; ++k) {
            const int bx = (2 * cx + k % 2 + offset.x) % kBins;
            const int by = (2 * cy + k / 2 + offset.y) % kBins;
            v += folded[by * kBins + bx];
        }
        soft[roles[c].bit] += v * roles[c].sign;
    }
    return soft;
}

// The lattice scaled and turned a little.
Lattice Adjusted(const Lattice& l, double scale, double degrees) {
    const double a = degrees * M_PI / 180, c = scale * std::cos(a), s = scale * std::sin(a);
    return {c * l.x1 - s * l.y1, s * l.x1 + c * l.y1, c * l.x2 - s * l.y2, s * l.x2 + c * l.y2};
}

// The payload read along a lattice found in the correlogram, or along the
// one near it, a fraction of a percent larger or smaller or turned by a
// fraction of a degree, whose known cells stand out most: the
// correlogram's peaks give the lattice to about a pixel in the tiles'
// period, and over many tiles that is enough to blur the cells.
std::optional<InvisiblePayload> ReadNear(const std::vector<float>& white, int w, int h,
                                         const Lattice& found) {
    std::vector<float> folded = Fold(white, w, h, found);
    Offset offset = FindOffset(folded);
    if (offset.standing >= kSyncStanding) {
        if (auto p = DecodePayload(SoftBits(folded, offset))) return p;
    }
    std::vector<float> bestFolded;
    Offset best{0, 0, offset.standing};
    for (double scale : {0.99, 0.995, 1.0, 1.005, 1.01}) {
        for (double degrees : {-0.4, 0.0, 0.4}) {
            if (scale == 1.0 && degrees == 0.0) continue;
            std::vector<float> f = Fold(white, w, h, Adjusted(found, scale, degrees));
            const Offset o = FindOffset(f);
            if (o.standing > best.standing) {
                best = o;
                bestFolded = std::move(f);
            }
        }
    }
    if (bestFolded.empty() || best.standing < kSyncStanding) return std::nullopt;
    return DecodePayload(SoftBits(bestFolded, best));
}

// The picture's luminance averaged over squares of k x k pixels.
std::vector<float> LumaAveraged(const QImage& image, int k, int* width, int* height) {
    const int w = image.width() / k, h = image.height() / k;
    *width = w;
    *height = h;
    const bool palette = image.format() == QImage::Format_Indexed8;
    std::vector<float> levels(256, 0.0f);
    if (palette) {
        const QList<QRgb> colours = image.colorTable();
        for (int i = 0; i < 256 && i < colours.size(); ++i)
            levels[i] = Luma(colours[i]);
    }
    std::vector<float> luma(static_cast<size_t>(w) * h, 0.0f);
    for (int y = 0; y < h * k; ++y) {
        const uchar* line = image.constScanLine(y);
        float* out = &luma[static_cast<size_t>(y / k) * w];
        for (int x = 0; x < w * k; ++x)
            out[x / k] += palette ? levels[line[x]] : Luma(reinterpret_cast<const QRgb*>(line)[x]);
    }
    return luma;
}

}  // namespace

std::optional<InvisiblePayload> DetectInvisible(const Picture& picture) {
    const QImage& image = picture.image;
    if (image.isNull()) return std::nullopt;
    const int k = std::max(1, static_cast<int>(std::lround(std::max(image.width(), image.height()) /
                                                           double(kDetectSide))));
    int w = 0, h = 0;
    const std::vector<float> luma = LumaAveraged(image, k, &w, &h);
    std::vector<float> white = Whiten(luma, w, h);
    if (w < 96 || h < 96) return std::nullopt;
    // First the lattice the picture would have if it is as it was marked,
    // or scaled by a power of two: that of a picture of this size. The
    // tiles of a busy photo may not stand out of its correlogram, but
    // along their lattice they are read all the same.
    const double native = static_cast<double>(kTile) * CellSide(image.width(), image.height()) / k;
    if (auto p = ReadNear(white, w, h, {native, 0, 0, native})) return p;
    for (const Lattice& l : FindLattices(white, w, h, kLatticeTries)) {
        if (auto p = ReadNear(white, w, h, l)) return p;
    }
    // A part cut from a marked picture, turned or not, keeps its scale: its
    // tiles are kTile cells of a whole number of pixels, turned by a few
    // degrees at most. The lattices of those sizes and turns whose known
    // cells stand out most are read, each from the picture averaged by k
    // or by k + 1, whichever gives its cells the more nearly whole number
    // of pixels.
    struct View {
        int k, w, h;
        std::vector<float> white;
    };
    std::vector<View> views;
    views.push_back({k, w, h, std::move(white)});  // the first view takes it over
    if (k >= 2) {
        View more{k + 1, 0, 0, {}};
        const std::vector<float> averaged = LumaAveraged(image, k + 1, &more.w, &more.h);
        more.white = Whiten(averaged, more.w, more.h);
        views.push_back(std::move(more));
    }
    const int side = CellSide(image.width(), image.height());
    struct Cut {
        double standing;
        Lattice lattice;
        const View* view;
    };
    std::vector<Cut> cut;
    // (from a little smaller to more than twice as large, in at most 12 steps)
    const int first = std::max(1, side - 1), last = side * 22 / 10 + 1;
    const int stride = std::max(1, (last - first + 12) / 12);
    for (int c = first; c <= last; c += stride) {
        const View* view = &views.front();
        auto offWhole = [c](const View& v) {
            const double cell = static_cast<double>(c) / v.k;
            return std::abs(cell - std::round(cell));
        };
        for (const View& v : views) {
            if (offWhole(v) < offWhole(*view) - 1e-9) view = &v;
        }
        const double period = static_cast<double>(kTile) * c / view->k;
        if (period < 40 || period > 0.6 * std::min(view->w, view->h)) continue;
        for (int turn = -4; turn <= 4; ++turn) {
            const Lattice l = Adjusted({period, 0, 0, period}, 1.0, 0.75 * turn);
            cut.push_back({FindOffset(Fold(view->white, view->w, view->h, l)).standing, l, view});
        }
    }
    std::sort(cut.begin(), cut.end(),
              [](const Cut& a, const Cut& b) { return a.standing > b.standing; });
    for (size_t i = 0; i < cut.size() && i < kCutTries; ++i) {
        const View& v = *cut[i].view;
        if (auto p = ReadNear(v.white, v.w, v.h, cut[i].lattice)) return p;
    }
    return std::nullopt;
}

}  // namespace velda
