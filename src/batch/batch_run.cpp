#include "batch/batch_run.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

#include "batch/messages.h"
#include "batch/watermark_file.h"

namespace velda {

namespace {

struct Task {
    QString source;
    QString target;
};

// Worker threads fed by the walk. The queue holds at most one waiting file
// per worker, so the walk never races far ahead of the work.
class WorkerPool {
  public:
    WorkerPool(int count, std::function<void(const Task&)> work) : work_(std::move(work)) {
        capacity_ = static_cast<size_t>(count);
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] { Loop(); });
    }
    ~WorkerPool() { Finish(); }

    void Submit(Task task) {
        std::unique_lock lock(mutex_);
        spaceFree_.wait(lock, [this] { return queue_.size() < capacity_; });
        queue_.push_back(std::move(task));
        workReady_.notify_one();
    }

    // Waits for the files in progress. With discardWaiting, files handed out
    // but not yet started are dropped; returns how many were.
    int Finish(bool discardWaiting = false) {
        int dropped = 0;
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            if (discardWaiting) {
                dropped = static_cast<int>(queue_.size());
                queue_.clear();
            }
        }
        workReady_.notify_all();
        for (std::thread& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
        return dropped;
    }

  private:
    void Loop() {
        for (;;) {
            Task task;
            {
                std::unique_lock lock(mutex_);
                workReady_.wait(lock, [this] { return closing_ || !queue_.empty(); });
                if (queue_.empty()) return;
                task = std::move(queue_.front());
                queue_.pop_front();
                spaceFree_.notify_one();
            }
            work_(task);
        }
    }

    std::function<void(const Task&)> work_;
    std::vector<std::thread> threads_;
    std::deque<Task> queue_;
    size_t capacity_ = 1;
    bool closing_ = false;
    std::mutex mutex_;
    std::condition_variable workReady_, spaceFree_;
};

QString Canonical(const QString& path) {
    const QString c = QFileInfo(path.isEmpty() ? QStringLiteral("/") : path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : c;
}

// "name (2).jpg" for the second result that would take "name.jpg".
QString Numbered(const QString& path, int n) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    return info.path() + u'/' + stem + QStringLiteral(" (%1)").arg(n) + ext;
}

}  // namespace

bool DirectoryExists(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && info.isExecutable();
}

bool MakeDirectory(const QString& path) {
    return !path.isEmpty() && QDir().mkdir(path);
}

bool SameDirectory(const QString& a, const QString& b) {
    return Canonical(a) == Canonical(b);
}

QStringList BatchRun::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

int BatchRun::RunBatch(const BatchRequest& request, const BatchJob& job, BatchHost& host) {
    using Icon = BatchHost::Icon;
    int count = 0;
    StopRequested = false;
    started_ = false;
    {
        std::lock_guard lock(mutex_);
        failures_.clear();
    }
    const bool noFiles = request.listed >= 0 ? request.listed == 0 : request.files.isEmpty();
    if (noFiles && !request.tree) {
        host.Inform(messages::kMustSelectFiles, Icon::Exclamation);
        return 0;
    }
    QString input = request.inputDir.trimmed();
    if (input.endsWith(u'/')) input.chop(1);
    const QString output = request.outputDir.trimmed();
    if (!DirectoryExists(output)) {
        if (!host.Ask(messages::kOutputMissing, Icon::Exclamation)) return 0;
        if (!MakeDirectory(output)) {
            host.Inform(messages::kErrorCreatingOutput, Icon::Exclamation);
            return 0;
        }
    }
    if (SameDirectory(input, output)) {
        host.Inform(messages::kOutputSameAsSource, Icon::Exclamation);
        return 0;
    }
    if (!host.Ask(messages::Confirmation(request.tree, input, output), Icon::Question)) return 0;
    started_ = true;

    const OutputFormat format = FormatFor(job.output);
    QSet<QString> takenNames;  // results of this run: none replaces another
    int done = 0;
    auto work = [&](const Task& task) {
        const Status s = WatermarkFile(job, task.source, task.target, request.deleteSources);
        std::lock_guard lock(mutex_);
        if (!s.ok()) failures_.append(task.source);
        host.FileDone(task.source, s, ++done);
    };
    const int jobs = request.jobs > 0
                         ? request.jobs
                         : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    WorkerPool pool(jobs, work);

    // Output names are fixed here, in walk order, so results never depend
    // on which worker finishes first.
    auto handOut = [&](const QString& dir, const QString& name) {
        host.Progress(messages::Progress(count));
        QString target = output + u'/' + OutputName(name, format.extension);
        for (int n = 2; takenNames.contains(target); ++n) {
            target = Numbered(output + u'/' + OutputName(name, format.extension), n);
        }
        takenNames.insert(target);
        pool.Submit({dir + u'/' + name, target});
        ++count;
        ProcessedCount = count;
        host.Progress(QStringLiteral(" "));
        host.Yield();
    };

    bool abandoned = false;
    if (request.tree) {
        ProcessedCount = 0;
        ScanCallbacks cb;
        cb.file = handOut;
        cb.stopRequested = [&] {
            host.Yield();
            return StopRequested.load();
        };
        cb.stoppedAtStart = [&] { host.Inform(messages::kStopped, Icon::Critical); };
        cb.unreadable = [&](const QString& dir, const Status& s) {
            {
                std::lock_guard lock(mutex_);
                failures_.append(dir);
            }
            return host.Ask(messages::RunError(s.number()), Icon::Question);
        };
        cb.skipDirectory = Canonical(output);
        cb.lister = request.lister;
        abandoned = !ScanDirectory(input, cb);
    } else {
        for (const QString& entry : request.files) {
            handOut(input, entry.trimmed());
            host.Yield();
            if (StopRequested) break;
        }
        ProcessedCount = count;
    }
    // A stop lets the files in progress finish; those not yet started are
    // not processed and not counted.
    ProcessedCount -= pool.Finish(StopRequested);
    host.Progress(QString());
    return abandoned ? 0 : ProcessedCount.load();
}

}  // namespace velda
