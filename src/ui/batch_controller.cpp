#include "ui/batch_controller.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include "batch/messages.h"
#include "ui/prompter.h"

namespace velda {

namespace {

// The run's questions and messages come from its own thread; they are shown
// on the window's thread, which waits for nothing meanwhile.
class PanelBatchHost : public BatchHost {
  public:
    PanelBatchHost(QObject* window, Prompter& prompter, QLabel* label, QProgressBar* bar,
                   const BatchRun& run)
        : window_(window), prompter_(prompter), label_(label), bar_(bar), run_(run) {}

    bool Ask(Question, const QString& text, Icon icon) override {
        bool yes = false;
        OnWindowThread(
            [&] { yes = prompter_.Message(text, ToPrompter(icon), Prompter::Buttons::YesNo); },
            true);
        return yes;
    }
    void Inform(Notice, const QString& text, Icon icon) override {
        OnWindowThread([&] { prompter_.Message(text, ToPrompter(icon), Prompter::Buttons::Ok); },
                       true);
    }
    // The label and the bar both count finished files.
    void Total(int files) override {
        OnWindowThread([bar = bar_, files] { bar->setRange(0, std::max(1, files)); }, false);
    }
    void FileDone(const QString&, Outcome, const Status&, int done) override {
        OnWindowThread(
            [bar = bar_, label = label_, done, run = &run_] {
                bar->setValue(std::min(done, bar->maximum()));
                // Once asked to stop, it says so until the files in
                // progress are done.
                if (!run->StopRequested) label->setText(messages::Progress(done));
            },
            false);
    }

  private:
    static Prompter::Icon ToPrompter(Icon icon) {
        switch (icon) {
            case Icon::Critical:
                return Prompter::Icon::Critical;
            case Icon::Question:
                return Prompter::Icon::Question;
            default:
                return Prompter::Icon::Exclamation;
        }
    }
    template <class F>
    void OnWindowThread(F&& f, bool wait) {
        if (QThread::currentThread() == window_->thread()) {
            f();
        } else if (wait) {
            QMetaObject::invokeMethod(window_, std::forward<F>(f), Qt::BlockingQueuedConnection);
        } else {
            QMetaObject::invokeMethod(window_, std::forward<F>(f), Qt::QueuedConnection);
        }
    }
    QObject* window_;
    Prompter& prompter_;
    QLabel* label_;
    QProgressBar* bar_;
    const BatchRun& run_;
};

}  // namespace

BatchController::BatchController(QObject* window, Prompter& prompter)
    : window_(window), prompter_(prompter) {}

BatchController::~BatchController() {
    StopAndWait();
    if (thread_.joinable()) thread_.join();
}

void BatchController::Start(std::shared_ptr<const BatchJob> job, const BatchRequest& request,
                            QLabel* label, QProgressBar* bar,
                            std::function<void(int processed)> finished) {
    if (Running()) return;
    finished_ = std::move(finished);
    host_ = std::make_unique<PanelBatchHost>(window_, prompter_, label, bar, run_);
    thread_ = std::thread([this, job, request] {
        const int processed = run_.RunBatch(request, *job, *host_);
        QMetaObject::invokeMethod(
            window_, [this, processed] { Finished(processed); }, Qt::QueuedConnection);
    });
}

void BatchController::Finished(int processed) {
    if (thread_.joinable()) thread_.join();
    if (finished_) finished_(processed);
}

void BatchController::StopAndWait() {
    if (!Running()) return;
    run_.StopRequested = true;
    // The run may still ask a question on this thread: keep answering
    // events until it has finished.
    while (Running())
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

QString BatchController::Report(int processed) const {
    QString report = messages::Processed(processed);
    // The first twenty of a list, each with what is said of it.
    auto list = [&report](const QString& header, const QList<BatchRun::Problem>& problems,
                          const QString& between) {
        if (problems.isEmpty()) return;
        report += u'\r' + header;
        for (qsizetype i = 0; i < problems.size() && i < 20; ++i)
            report += u'\r' + messages::ReportName(problems[i].path) + between + problems[i].reason;
        if (problems.size() > 20)
            report += QStringLiteral("\r... and %1 more").arg(problems.size() - 20);
    };
    const auto failures = run_.Failures();
    list(messages::FailedHeader(static_cast<int>(failures.size())), failures, QStringLiteral(": "));
    list(QStringLiteral("Written with a remark:"), run_.Notes(), QStringLiteral(": note: "));
    return report;
}

}  // namespace velda
