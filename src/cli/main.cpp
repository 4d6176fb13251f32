// velda-batch: the batch watermark-and-convert run from the command line.
#include <signal.h>

#include <QGuiApplication>
#include <cstdio>

#include "batch/directory_scan.h"
#include "batch/messages.h"
#include "cli/cli_host.h"
#include "cli/cli_options.h"

namespace {

velda::BatchRun* gRun = nullptr;

// Interrupt is Cancel: files in progress finish and are kept.
extern "C" void OnInterrupt(int) {
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

// Standard error is for progress and reasons; Qt's chatter about the
// headless platform it runs on is nobody's business.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg || type == QtInfoMsg || text.contains(QStringLiteral("XDG_RUNTIME_DIR")))
        return;
    velda::cli::Err(text);
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(QuietQtMessages);
    // Text is drawn with Qt's fonts, which need an application object; no
    // window is ever shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("velda"));
    QGuiApplication::setApplicationVersion(QStringLiteral("1.40"));

    velda::cli::CliRequest request;
    QString error;
    if (!velda::cli::ParseArguments(app.arguments().mid(1), &request, &error)) return Refuse(error);
    if (request.help) {
        Out(velda::cli::HelpText());
        return 0;
    }
    if (request.version) {
        Out(QStringLiteral("velda-batch 1.40"));
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

    const int total = request.batch.tree
                          ? (request.quiet ? 0 : velda::CountPictures(request.batch.inputDir))
                          : static_cast<int>(request.batch.files.size());
    velda::cli::CliHost host(total, request.quiet);
    const int processed = run.RunBatch(request.batch, request.job, host);
    host.EndProgress();
    gRun = nullptr;

    if (!run.Started()) {  // the host has said why
        velda::cli::Err(QStringLiteral("Try 'velda-batch --help' for more."));
        return 2;
    }
    if (run.StopRequested) {
        velda::cli::Err(velda::messages::kStopped);
        velda::cli::Err(velda::messages::Processed(run.ProcessedCount));
        return 130;
    }
    Out(velda::messages::Processed(processed));
    const QStringList failures = run.Failures();
    if (failures.isEmpty()) return 0;
    Out(velda::messages::FailedHeader(static_cast<int>(failures.size())));
    for (qsizetype i = 0; i < failures.size() && i < 20; ++i)
        Out(failures[i]);
    if (failures.size() > 20) Out(QStringLiteral("... and %1 more").arg(failures.size() - 20));
    return 1;
}
