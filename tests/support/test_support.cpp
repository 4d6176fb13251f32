#include "support/test_support.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>

namespace velda::test {

QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000)) {
        ADD_FAILURE() << "could not run " << program.toStdString();
        return QString();
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << args.join(u' ').toStdString()
                      << " failed: " << p.readAllStandardError().toStdString();
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

static QString Tool(const char* versioned, const char* plain) {
    const QString v = QStandardPaths::findExecutable(QString::fromLatin1(versioned));
    return v.isEmpty() ? QString::fromLatin1(plain) : v;
}

QString ConvertTool() {
    return Tool("convert-im6.q16", "convert");
}
QString IdentifyTool() {
    return Tool("identify-im6.q16", "identify");
}

QString VeldaBatchProgram() {
    // VELDA_BATCH runs the tests against another build (an older one, to see
    // a test fail before its fix).
    const QString other = qEnvironmentVariable("VELDA_BATCH");
    if (!other.isEmpty()) return other;
    return QCoreApplication::applicationDirPath() + u"/velda-batch"_s;
}

BatchResult RunVeldaBatch(const QStringList& args) {
    QProcess p;
    p.start(VeldaBatchProgram(), args);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString Python(const QString& script, const QStringList& args) {
    return Run(u"/usr/bin/python3"_s, QStringList{u"-c"_s, script} + args);
}

QString Identify(const QString& file, const QString& format) {
    return Run(IdentifyTool(), {u"-format"_s, format, file + u"[0]"_s}).trimmed();
}

QImage MakePhoto(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            const int r = static_cast<int>(255 * fx);
            const int g = static_cast<int>(127 + 120 * std::sin(9 * fx + 5 * fy));
            const int b = static_cast<int>(255 * fy * (1 - fx)) ^ ((x / 7 + y / 5) & 15);
            row[x] = qRgb(r & 255, g & 255, b & 255);
        }
    }
    return image;
}

double Psnr(const QImage& a, const QImage& b, const QRect& rect) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    const QRect r = (rect.isEmpty() ? x.rect() : rect) & x.rect();
    double sum = 0;
    for (int row = r.top(); row <= r.bottom(); ++row) {
        const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int i = r.left(); i <= r.right(); ++i)
            for (int d :
                 {qRed(p[i]) - qRed(q[i]), qGreen(p[i]) - qGreen(q[i]), qBlue(p[i]) - qBlue(q[i])})
                sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * 3.0 * r.width() * r.height() / sum);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

}  // namespace velda::test
