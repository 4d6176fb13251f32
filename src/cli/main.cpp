// velda-batch: the batch watermark-and-convert run from the command line.
#include <signal.h>

#include <QGuiApplication>
#include <cstdio>

#include "base/file_access.h"
#include "batch/memory_budget.h"
#include "batch/messages.h"
#include "cli/cli_host.h"
#include "cli/cli_options.h"
#include "imaging/codec.h"
#include "imaging/invisible_mark.h"
#include "imaging/picture_io.h"

namespace {

velda::BatchRun* gRun = nullptr;
volatile sig_atomic_t gSignal = 0;  // the first signal that stopped the run

// Interrupt, termination and a closed terminal are Cancel: files in progress
// finish and are kept, the rest is left as it was.
extern "C" void OnInterrupt(int signal) {
    if (!gSignal) gSignal = signal;
    if (gRun) gRun->StopRequested.store(true);
}

void Out(const QString& text) {
    const QByteArray bytes = (text + u'\n').toLocal8Bit();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

int Refuse(const QString& reason) {
    velda::cli::Err(reason);
    velda::cli::Err(QStringLiteral("Try 'velda-batch --help' for more."));
    return 2;
}

// Standard error is for progress and reasons. Qt's chatter about the
// headless platform, and the warnings that libpng and libtiff pass through
// it, are nobody's business: every file's own reason is reported anyway.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) velda::cli::Err(text);
}

// The report on standard output: the count, then each failed file with its
// reason and each skipped one, a line each.
int Report(const velda::BatchRun& run, const QString& countLine) {
    using velda::messages::ReportName;
    Out(countLine);
    for (const auto& n : run.Notes())
        Out(ReportName(n.path) + QStringLiteral(": note: ") + n.reason);
    const auto failures = run.Failures();
    if (!failures.isEmpty()) {
        Out(velda::messages::FailedHeader(static_cast<int>(failures.size())));
        for (const auto& f : failures)
            Out(ReportName(f.path) + QStringLiteral(": ") + f.reason);
    }
    const QStringList skipped = run.Skipped();
    if (!skipped.isEmpty()) {
        Out(velda::messages::SkippedHeader(static_cast<int>(skipped.size())));
        for (const QString& f : skipped)
            Out(ReportName(f));
    }
    return failures.isEmpty() ? 0 : 1;
}

// One line a picture: the payload of its invisible mark, or none; a file
// that cannot be read is said on standard error and fails the run.
int Verify(const QStringList& files) {
    int status = 0;
    for (const QString& file : files) {
        velda::Picture picture;
        const velda::Status s = velda::LoadPicture(file, velda::kPhotoCdBase, &picture);
        if (!s.ok()) {
            velda::cli::Err(file + QStringLiteral(": ") + s.text());
            status = 1;
            continue;
        }
        const auto found = velda::DetectInvisible(picture);
        Out(file +
            (found ? QStringLiteral(": mark ") + found->ToString() : QStringLiteral(": no mark")));
    }
    return status;
}

// Arguments as given: UTF-8, or Windows-1252 bytes (a name copied from an
// old archive) that the file access layer turns back into the same bytes.
QStringList Arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(velda::DecodeText(QByteArray(argv[i])));
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    velda::cli::KeepStandardErrorForOurOwn();
    // Each worker's pictures are about the same size from file to file.
    velda::ReuseFreedPictureMemory(qint64(1) << 30);
    qInstallMessageHandler(QuietQtMessages);
    // Text is drawn with Qt's fonts, which need an application object; no
    // window is ever shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("velda"));
    QGuiApplication::setApplicationVersion(QStringLiteral("1.40"));
    // Process-wide set-up, once, before any worker starts.
    velda::EnsureCodecsInitialized();

    velda::cli::CliRequest request;
    QString error;
    if (!velda::cli::ParseArguments(Arguments(argc, argv), &request, &error)) return Refuse(error);
    if (request.help) {
        Out(velda::cli::HelpText());
        return 0;
    }
    if (request.version) {
        Out(QStringLiteral("velda-batch 1.40"));
        return 0;
    }
    if (!request.verifyFiles.isEmpty()) return Verify(request.verifyFiles);
    if (request.listPresets) {
        for (const QString& name : request.presets)
            Out(name);
        return 0;
    }
    if (request.batch.files.isEmpty() && !request.batch.tree) {
        return Refuse(velda::messages::kMustSelectFiles);
    }
    if (request.nothingToApply) {
        velda::cli::Err(QStringLiteral("no watermark or text given: converting only"));
    }

    velda::BatchRun run;
    gRun = &run;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A progress reader that goes away must not end the run unseen: writes
    // to a closed pipe fail instead, and the run goes on.
    signal(SIGPIPE, SIG_IGN);

    // The bar's total: a tree is counted once the run is past its checks.
    request.batch.countTree = !request.quiet;
    velda::cli::CliHost host(request.quiet);
    const int processed = run.RunBatch(request.batch, request.job, host);
    host.EndProgress();
    gRun = nullptr;

    if (request.batch.dryRun && run.Started()) {
        return Report(run, QStringLiteral("%1 files would be written.").arg(host.planned()));
    }
    if (!run.Started()) {  // the host has said why
        velda::cli::Err(QStringLiteral("Try 'velda-batch --help' for more."));
        return 2;
    }
    if (run.StopRequested) {
        velda::cli::Err(velda::messages::kStopped);
        Report(run, velda::messages::StoppedSummary(run.Written()));
        return gSignal == SIGHUP ? 129 : 130;
    }
    return Report(run, velda::messages::Processed(processed));
}
