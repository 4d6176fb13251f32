#include "cli/cli_host.h"

#include <fcntl.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

#include <cstdio>

#include "batch/messages.h"

namespace velda::cli {

namespace {

FILE* gErr = stderr;  // where our own messages go

}  // namespace

void KeepStandardErrorForOurOwn() {
    // The libraries print warnings of their own to the process's standard
    // error (libtiff's "TIFFReadDirectory: Warning", libpng's "libpng
    // error"); each file's own reason says what matters. Our messages keep
    // the real standard error; theirs go nowhere.
    fflush(stderr);
    const int ours = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (ours < 0 || null < 0) return;
    FILE* f = ::fdopen(ours, "w");
    if (!f || ::dup2(null, STDERR_FILENO) < 0) return;
    ::close(null);
    gErr = f;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's report is ours to see.
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<uintptr_t>(ours)));
#endif
}

void Err(const QString& line) {
    QString text = line;
    text.replace(u'\r', QStringLiteral(": "));
    const QByteArray bytes = (QStringLiteral("velda-batch: ") + text + u'\n').toLocal8Bit();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), gErr);
    fflush(gErr);
}

CliHost::CliHost(bool quiet) : quiet_(quiet), terminal_(isatty(fileno(gErr)) == 1) {
    clock_.start();
}

bool CliHost::Ask(Question about, const QString& text, Icon) {
    // The output directory is created as Yes would; the run itself was
    // confirmed by being started; after a folder that cannot be read the
    // walk goes on with the rest of the tree.
    if (about == Question::GoOnAfterFolder) {
        Err(QString(text)
                .replace(u'\r', QStringLiteral(" - "))
                .section(QStringLiteral(" - Do"), 0, 0) +
            QStringLiteral(" (a folder could not be read; going on)"));
    }
    return true;
}

void CliHost::Planned(const QString& source, const QString& target) {
    const QString line = messages::ReportName(source) + QStringLiteral(" -> ") +
                         (target.isEmpty() ? QStringLiteral("(skipped: name taken)")
                                           : messages::ReportName(target)) +
                         u'\n';
    if (!target.isEmpty()) ++planned_;
    const QByteArray bytes = line.toLocal8Bit();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void CliHost::Inform(Notice about, const QString& text, Icon) {
    if (about == Notice::Stopped) return;  // said once, at the end
    Err(text);
}

void CliHost::FileDone(const QString& source, Outcome outcome, const Status& status, int done) {
    if (quiet_) return;
    const QString what = outcome == Outcome::Failed    ? QStringLiteral(": ") + status.text()
                         : outcome == Outcome::Skipped ? QStringLiteral(": skipped, name taken")
                         : status.text().isEmpty()     ? QString()
                                                       : QStringLiteral(": ") + status.text();
    if (!terminal_) {
        const QString total = total_ > 0 ? QStringLiteral("/%1").arg(total_) : QString();
        Err(QStringLiteral("%1%2 %3%4").arg(done).arg(total, messages::ReportName(source), what));
        return;
    }
    if (!what.isEmpty()) {
        fputs("\r\033[K", gErr);
        Err(messages::ReportName(source) + what);
    }
    const double seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    QString line;
    if (total_ > 0) {
        const int width = 30;
        const int filled = std::min(width, done * width / total_);
        const int left = rate > 0 ? static_cast<int>((total_ - done) / rate) : 0;
        line = QStringLiteral("[%1%2] %3/%4  %5 files/s  %6:%7 left")
                   .arg(QString(filled, u'#'), QString(width - filled, u'-'))
                   .arg(done)
                   .arg(total_)
                   .arg(rate, 0, 'f', 1)
                   .arg(left / 60)
                   .arg(left % 60, 2, 10, QChar(u'0'));
    } else {
        line = QStringLiteral("%1 files  %2 files/s").arg(done).arg(rate, 0, 'f', 1);
    }
    const QByteArray bytes = (QStringLiteral("\r\033[K") + line).toLocal8Bit();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), gErr);
    fflush(gErr);
    barShown_ = true;
}

void CliHost::EndProgress() {
    if (barShown_) fputs("\n", gErr);
    barShown_ = false;
}

}  // namespace velda::cli
