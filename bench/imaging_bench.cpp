// Kernels of the picture buffer against their baselines, on the corpus of
// real photographs (shared/corpus/make-corpus.sh; VELDA_CORPUS or
// /tmp/perf/corpus).
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

#include "imaging/compositing.h"
#include "imaging/loaders.h"
#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "imaging/resize.h"

namespace {

QString Corpus() {
    const QByteArray env = qgetenv("VELDA_CORPUS");
    return env.isEmpty() ? QStringLiteral("/tmp/perf/corpus") : QString::fromLocal8Bit(env);
}
QString Photo24() {
    return Corpus() + QStringLiteral("/jpg24/kleiber-24mp.jpg");
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double Psnr(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb q = b.pixel(x, y);
            const int d[3] = {qRed(p[x]) - qRed(q), qGreen(p[x]) - qGreen(q),
                              qBlue(p[x]) - qBlue(q)};
            sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    }
    return 10 * std::log10(255.0 * 255.0 * 3.0 * a.width() * a.height() / sum);
}

// The picture at path in p, or the benchmark skipped with the reason: a
// figure measured on no picture would be worse than none.
bool Load(velda::Picbuf& p, const QString& path, benchmark::State& state) {
    p.FileName = path;
    if (const velda::Status s = p.LoadFile(); !s.ok()) {
        state.SkipWithError(qPrintable(s.text()));
        return false;
    }
    return true;
}

void BM_JpegLoad_Picbuf(benchmark::State& state) {
    velda::Picbuf p;
    for (auto _ : state) {
        p.FileName = Photo24();
        if (!p.LoadFile().ok()) state.SkipWithError("load failed");
    }
}

void BM_JpegLoad_BareTurboJpeg(benchmark::State& state) {
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        const QByteArray data = ReadAll(Photo24());
        int w, h, ss, cs;
        tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(data.constData()),
                            static_cast<unsigned long>(data.size()), &w, &h, &ss, &cs);
        std::unique_ptr<unsigned char[]> buf(new unsigned char[static_cast<size_t>(w) * h * 4]);
        tjDecompress2(tj, reinterpret_cast<const unsigned char*>(data.constData()),
                      static_cast<unsigned long>(data.size()), buf.get(), w, w * 4, h, TJPF_BGRX,
                      0);
        benchmark::DoNotOptimize(buf.get());
    }
    tjDestroy(tj);
}

void BM_JpegStore_Picbuf(benchmark::State& state) {
    QTemporaryDir dir;
    velda::Picbuf p;
    if (!Load(p, Photo24(), state)) return;
    p.ImageFormat = velda::Format(velda::FormatId::Jpeg).code;
    p.WriteCompression = 75;
    p.FileName = dir.filePath(QStringLiteral("out.jpg"));
    for (auto _ : state) {
        if (!p.Store().ok()) state.SkipWithError("store failed");
    }
}

void BM_JpegStore_BareTurboJpeg(benchmark::State& state) {
    QTemporaryDir dir;
    velda::Picbuf p;
    if (!Load(p, Photo24(), state)) return;
    const QImage& img = p.image();
    tjhandle tj = tjInitCompress();
    for (auto _ : state) {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(tj, img.constBits(), img.width(), static_cast<int>(img.bytesPerLine()),
                    img.height(), TJPF_BGRX, &jpeg, &size, TJSAMP_420, 75, 0);
        QFile f(dir.filePath(QStringLiteral("bare.jpg")));
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char*>(jpeg), static_cast<qint64>(size));
        tjFree(jpeg);
    }
    tjDestroy(tj);
}

void BM_MaskCopy_300x120(benchmark::State& state) {
    velda::Picbuf target, wm, mask;
    if (!Load(target, Photo24(), state)) return;
    if (!Load(wm, Corpus() + QStringLiteral("/watermark.png"), state)) return;
    if (!velda::MakeUniformMask(mask, wm, 70).ok()) {
        state.SkipWithError("no mask");
        return;
    }
    wm.Xorigin = mask.Xorigin = -1000;
    wm.Yorigin = mask.Yorigin = -800;
    for (auto _ : state) {
        velda::Status s = target.MaskCopy(wm, mask);
        benchmark::DoNotOptimize(s);
    }
}

void BM_ReduceColors_Velda(benchmark::State& state) {
    velda::Picbuf src;
    if (!Load(src, Photo24(), state)) return;
    velda::Picbuf p;
    for (auto _ : state) {
        p.PasteClipboard(src.CopyClipboard());
        if (!p.ReduceColors(static_cast<int>(state.range(0))).ok())
            state.SkipWithError("reduce failed");
    }
    state.counters["psnr"] = Psnr(src.image(), p.image());
}

void BM_ReduceColors_ImageMagickConvert(benchmark::State& state) {
    QTemporaryDir dir;
    // Same input for both: the photo decoded once, as a lossless file.
    const QString in = dir.filePath(QStringLiteral("in.ppm"));
    velda::Picbuf src;
    if (!Load(src, Photo24(), state)) return;
    src.image().convertToFormat(QImage::Format_RGB888).save(in, "PPM");
    const QString out = dir.filePath(QStringLiteral("out.png"));
    QString convert = QStandardPaths::findExecutable(QStringLiteral("convert-im6.q16"));
    for (auto _ : state) {
        QProcess::execute(convert,
                          {in, QStringLiteral("-colors"), QString::number(state.range(0)), out});
    }
    state.counters["psnr"] = Psnr(src.image(), QImage(out).convertToFormat(QImage::Format_RGB32));
}

// The 24-megapixel photo brought to 2048 pixels wide from the width given
// (the size a JPEG's DCT scaling leaves it at), by each filter.
void Resize(benchmark::State& state, velda::ResizeFilter filter) {
    velda::Picbuf p;
    if (!Load(p, Photo24(), state)) return;
    velda::Picture from;
    from.image = p.image().scaledToWidth(static_cast<int>(state.range(0)));
    const QSize to = from.image.size().scaled(2048, 2048, Qt::KeepAspectRatio);
    for (auto _ : state) {
        velda::Picture copy = from;
        copy.image.detach();
        if (!velda::ResizePicture(&copy, to, filter).ok()) state.SkipWithError("resize failed");
    }
}
void BM_Resize_Lanczos3(benchmark::State& state) {
    Resize(state, velda::ResizeFilter::Lanczos3);
}
void BM_Resize_Area(benchmark::State& state) {
    Resize(state, velda::ResizeFilter::Area);
}

}  // namespace

BENCHMARK(BM_Resize_Lanczos3)->Arg(3000)->Arg(6000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Resize_Area)->Arg(3000)->Arg(6000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegLoad_Picbuf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegLoad_BareTurboJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegStore_Picbuf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegStore_BareTurboJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MaskCopy_300x120)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ReduceColors_Velda)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReduceColors_ImageMagickConvert)
    ->Arg(256)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!QFile::exists(Photo24())) {
        fprintf(stderr, "no corpus at %s: run shared/corpus/make-corpus.sh\n",
                qPrintable(Corpus()));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
