#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace velda::test {

// Runs a program and returns its standard output; fails the test when the
// program cannot be run or exits non-zero.
QString Run(const QString& program, const QStringList& args);

// ImageMagick's tools by their versioned names (a plain `convert` on PATH
// may be something else).
QString ConvertTool();
QString IdentifyTool();

// Debian's own Python, which has PIL (python3-pil): a reader and writer
// that shares nothing with ours. Runs script with args; returns stdout.
QString Python(const QString& script, const QStringList& args = {});

// identify -format FORMAT FILE[0]
QString Identify(const QString& file, const QString& format);

// A photograph-like picture: smooth gradients with detail, so that colour
// reduction and compression have real work.
QImage MakePhoto(int width, int height);

// Peak signal-to-noise ratio of b against a (same size), over rect (the
// whole picture when empty), in dB; 99 when they are equal.
double Psnr(const QImage& a, const QImage& b, const QRect& rect = QRect());

// velda-batch, built beside the test, run to its end.
struct BatchResult {
    int code = -1;
    QString out, err;
};
QString VeldaBatchProgram();
BatchResult RunVeldaBatch(const QStringList& args);

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

// A velda-batch run's folders: in/ (made), out/ (not yet) and the path of
// its velda.ini, in a folder of the test's own.
class BatchFolders : public ::testing::Test {
  protected:
    BatchFolders() { QDir().mkpath(in_); }
    QTemporaryDir dir_;
    const QString in_ = dir_.filePath(QStringLiteral("in"));
    const QString out_ = dir_.filePath(QStringLiteral("out"));
    const QString ini_ = dir_.filePath(QStringLiteral("velda.ini"));
};

}  // namespace velda::test
