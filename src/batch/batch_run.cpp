#include "batch/batch_run.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "batch/memory_budget.h"
#include "batch/messages.h"
#include "batch/tokens.h"
#include "batch/watermark_file.h"

namespace velda {

namespace {

struct Task {
    OutputNamer* namer = nullptr;  // of the result's folder
    QString name;                  // the source's name in its folder
    QString source;                // its path
    QString target;                // the result's path
    bool replace = false;
    int order = 0;                      // its place in the walk or the list
    qint64 bytes = 0;                   // the source's size
    std::vector<QString> extraTargets;  // its further results' paths
    std::vector<bool> extraReplace;
};

// Worker threads fed by the walk. The queue holds at most one waiting file
// per worker, so the walk never races far ahead of the work.
class WorkerPool {
  public:
    // start: what each worker does before its first file.
    WorkerPool(int count, std::function<void(const Task&)> work, std::function<void()> start)
        : work_(std::move(work)), start_(std::move(start)) {
        capacity_ = static_cast<size_t>(count);
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] {
                start_();
                Loop();
            });
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
    std::function<void()> start_;
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

}  // namespace

bool DirectoryExists(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && info.isExecutable();
}

bool MakeDirectory(const QString& path, QString* reason) {
    if (path.isEmpty()) {
        if (reason) *reason = QStringLiteral("no folder name");
        return false;
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) return true;
    if (reason) *reason = QString::fromLocal8Bit(strerror(errno));
    return false;
}

Status MakeFolderInside(const QString& root, const QString& relative, bool create, QString* path) {
    QString at = root;
    for (const QString& part : relative.split(u'/', Qt::SkipEmptyParts)) {
        at = JoinPath(at, part);
        const QByteArray native = QFile::encodeName(at);
        if (create && ::mkdir(native.constData(), 0777) != 0 && errno != EEXIST)
            return Status::Error(ErrorCode::WriteFailed,
                                 QStringLiteral("cannot create folder %1: %2")
                                     .arg(at, QString::fromLocal8Bit(strerror(errno))));
        // A link planted in the output folder would take results elsewhere.
        struct stat st;
        if (::lstat(native.constData(), &st) != 0) {
            if (!create && errno == ENOENT) continue;  // a dry run creates nothing
            return Status::Error(ErrorCode::WriteFailed,
                                 QStringLiteral("cannot open folder %1: %2")
                                     .arg(at, QString::fromLocal8Bit(strerror(errno))));
        }
        if (!S_ISDIR(st.st_mode))
            return Status::Error(
                ErrorCode::WriteFailed,
                QStringLiteral("%1 is not a folder (a link is never followed)").arg(at));
    }
    *path = at;
    return Status::Ok();
}

bool SameDirectory(const QString& a, const QString& b) {
    return Canonical(a) == Canonical(b);
}

QList<BatchRun::Problem> BatchRun::InWalkOrder(const QList<Problem>& problems) const {
    std::lock_guard lock(mutex_);
    QList<Problem> sorted = problems;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Problem& a, const Problem& b) { return a.order < b.order; });
    return sorted;
}

QStringList BatchRun::Skipped() const {
    std::lock_guard lock(mutex_);
    return skipped_;
}

int BatchRun::RunBatch(const BatchRequest& request, const BatchJob& job, BatchHost& host) {
    using Icon = BatchHost::Icon;
    using Outcome = BatchHost::Outcome;
    int count = 0;
    StopRequested = false;
    started_ = false;
    written_ = 0;
    {
        std::lock_guard lock(mutex_);
        failures_.clear();
        notes_.clear();
        skipped_.clear();
    }
    const bool noFiles = request.listed >= 0 ? request.listed == 0 : request.files.isEmpty();
    if (noFiles && !request.tree) {
        host.Inform(BatchHost::Notice::NothingChosen, messages::kMustSelectFiles,
                    Icon::Exclamation);
        return 0;
    }
    // The folders as given: a name with blanks names another folder.
    QString input = request.inputDir;
    if (input.size() > 1 && input.endsWith(u'/')) input.chop(1);  // but "/" stays the root
    const QString output = request.outputDir;
    if (!DirectoryExists(output) && !request.dryRun) {
        if (!host.Ask(BatchHost::Question::CreateOutput, messages::kOutputMissing,
                      Icon::Exclamation))
            return 0;
        // Another run may create it at the same moment; then it exists,
        // which is all that was asked for.
        QString reason;
        if (!MakeDirectory(output, &reason) && !DirectoryExists(output)) {
            host.Inform(BatchHost::Notice::OutputNotMade,
                        messages::WithReason(messages::kErrorCreatingOutput, reason),
                        Icon::Exclamation);
            return 0;
        }
    }
    if (SameDirectory(input, output)) {
        host.Inform(BatchHost::Notice::OutputIsInput, messages::kOutputSameAsSource,
                    Icon::Exclamation);
        return 0;
    }
    // The question says how many files become what.
    const int total = !request.tree       ? static_cast<int>(request.files.size())
                      : request.countTree ? CountPictures(input, output)
                                          : -1;
    QString question = messages::Confirmation(request.tree, input, output);
    if (total >= 0)
        question += messages::ConfirmationDetail(total, Format(job.output).title, job.depth);
    if (!host.Ask(BatchHost::Question::Start, question, Icon::Question)) return 0;
    started_ = true;
    if (total >= 0) host.Total(total);

    const QString extension = Format(job.output).extension();
    // No result may land on a source, whichever folder it goes to: every
    // file of the walked tree and every listed file is known before the
    // first name is chosen.
    RunSources sources;
    if (request.tree) {
        sources.AddTree(input);
    } else {
        for (const QString& entry : request.files)
            sources.AddFile(JoinPath(input, entry));
    }
    // One namer for each folder results go to: the output folder, and its
    // subfolders when the tree is kept. A subfolder that cannot be made
    // inside the output folder has none, and its files fail with the reason.
    struct Folder {
        std::unique_ptr<OutputNamer> namer;
        Status status;
    };
    std::map<QString, Folder> namers;
    auto namerFor = [&](const QString& relative) -> Folder& {
        Folder& f = namers[relative];
        if (!f.namer && f.status.ok()) {
            QString folder = output;
            f.status = relative.isEmpty()
                           ? Status::Ok()
                           : MakeFolderInside(output, relative, !request.dryRun, &folder);
            if (f.status.ok())
                f.namer = std::make_unique<OutputNamer>(
                    folder, request.existing, request.deleteSources, request.dryRun, &sources);
        }
        return f;
    };
    MemoryBudget budget(request.memoryBytes > 0 ? request.memoryBytes : DefaultMemoryBudget());
    std::atomic<bool> abandoned{false};  // No after an error: nothing more is deleted
    int done = 0;
    auto finish = [&](const QString& source, int order, Outcome outcome, const Status& s) {
        std::lock_guard lock(mutex_);
        if (outcome == Outcome::Failed) failures_.append({source, s.text(), order});
        if (outcome == Outcome::Skipped) skipped_.append(source);
        if (outcome == Outcome::Written) ++written_;
        if (outcome == Outcome::Written && !s.text().isEmpty())
            notes_.append({source, s.text(), order});
        host.FileDone(source, outcome, s, ++done);
    };
    const int jobs = request.jobs > 0
                         ? request.jobs
                         : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    auto work = [&](const Task& task) {
        FileOptions options;
        options.deleteSource = request.deleteSources;
        options.replace = task.replace;
        options.budget = &budget;
        options.keepSources = &abandoned;
        options.extraTargets = task.extraTargets;
        options.extraReplace = task.extraReplace;
        // Every worker busy with a file of its own: each keeps to one core.
        options.threads = jobs > 1 && (request.tree || request.files.size() > 1) ? 1 : 0;
        options.counter = task.order + 1;
        Status s = WatermarkFile(job, task.source, task.target, options);
        if (s.code() == ErrorCode::TargetExists) {
            // Another program took the name after we claimed it.
            options.replace = false;
            s = WatermarkFile(
                job, task.source,
                task.namer->ClaimAgain(QFileInfo(task.target).fileName(), extension).path, options);
        }
        finish(task.source, task.order, s.ok() ? Outcome::Written : Outcome::Failed, s);
    };
    WorkerPool pool(jobs, work, [&job] { WarmUpMarks(job); });

    // Output names are claimed here, in walk order, so results never depend
    // on which worker finishes first. A folder's files (or the list) are
    // then handed out largest first, so that a big photo met last does not
    // keep one worker busy while the others idle.
    std::vector<Task> pending;
    int notStarted = 0;  // claimed, then left out by a stop
    auto handOut = [&](const QString& dir, const QString& name, qint64 bytes) {
        host.Progress(messages::Progress(count));
        const QString source = JoinPath(dir, name);
        QString relative;
        // The walk's folders all start with the input folder's path.
        if (request.tree && request.keepTree && dir.size() > input.size() &&
            dir.startsWith(input)) {
            relative = dir.mid(input.size()).section(u'/', 0, -1, QString::SectionSkipEmpty);
        }
        Folder& folder = namerFor(relative);
        if (!folder.namer) {
            finish(source, count, Outcome::Failed, folder.status);
        } else {
            OutputNamer& namer = *folder.namer;
            const OutputNamer::Claim claim =
                job.nameTemplate.isEmpty()
                    ? namer.ClaimFor(name, extension, source)
                    : namer.ClaimStem(ResultStem(job.nameTemplate, source, count + 1, job.resize),
                                      extension, source);
            // Each further result is claimed in its own folder, in number
            // order after the first.
            std::vector<QString> extraTargets;
            std::vector<bool> extraReplace;
            Status extraStatus;
            for (const ExtraResult& extra : job.extras) {
                const QString folderName = extra.folder.isEmpty() ? relative
                                           : relative.isEmpty()   ? extra.folder
                                                                  : relative + u'/' + extra.folder;
                Folder& f = namerFor(folderName);
                if (!f.namer) {
                    extraStatus = f.status;
                    break;
                }
                const QString ext = Format(extra.format.value_or(job.output)).extension();
                const OutputNamer::Claim c =
                    extra.nameTemplate.isEmpty()
                        ? f.namer->ClaimFor(name, ext, source)
                        : f.namer->ClaimStem(
                              ResultStem(extra.nameTemplate, source, count + 1, extra.resize), ext,
                              source);
                extraTargets.push_back(c.path);
                extraReplace.push_back(c.replace);
            }
            if (!extraStatus.ok()) {
                finish(source, count, Outcome::Failed, extraStatus);
            } else if (request.dryRun) {
                host.Planned(source, claim.path);
                for (const QString& t : extraTargets) {
                    if (!t.isEmpty()) host.Planned(source, t);
                }
            } else if (claim.path.isEmpty()) {
                finish(source, count, Outcome::Skipped, Status::Ok());
            } else {
                pending.push_back({&namer, name, source, claim.path, claim.replace, count, bytes,
                                   std::move(extraTargets), std::move(extraReplace)});
            }
        }
        ++count;
        ProcessedCount = count;
        host.Progress(QStringLiteral(" "));
        host.Yield();
    };
    auto handOutPending = [&] {
        std::stable_sort(pending.begin(), pending.end(),
                         [](const Task& a, const Task& b) { return a.bytes > b.bytes; });
        for (size_t i = 0; i < pending.size(); ++i) {
            if (StopRequested || abandoned) {
                notStarted += static_cast<int>(pending.size() - i);
                break;
            }
            pool.Submit(std::move(pending[i]));
        }
        pending.clear();
    };

    if (request.tree) {
        ProcessedCount = 0;
        ScanCallbacks cb;
        cb.file = handOut;
        cb.folderDone = handOutPending;
        cb.stopRequested = [&] {
            host.Yield();
            return StopRequested.load();
        };
        cb.stoppedAtStart = [&] {
            host.Inform(BatchHost::Notice::Stopped, messages::kStopped, Icon::Critical);
        };
        cb.unreadable = [&](const QString& dir, const Status& s) {
            {
                std::lock_guard lock(mutex_);
                failures_.append({dir, s.text(), count});
            }
            if (host.Ask(BatchHost::Question::GoOnAfterFolder, messages::RunError(s.number()),
                         Icon::Question))
                return true;
            abandoned = true;
            return false;
        };
        cb.skipDirectory = output;
        cb.lister = request.lister;
        ScanDirectory(input, cb);
    } else {
        for (const QString& entry : request.files) {
            handOut(input, entry, QFileInfo(JoinPath(input, entry)).size());
            host.Yield();
            if (StopRequested) break;
        }
        handOutPending();
        ProcessedCount = count;
    }
    // A stop, or No after an error, lets the files in progress finish; those
    // not yet started are not processed and not counted.
    ProcessedCount -= notStarted + pool.Finish(StopRequested || abandoned);
    host.Progress(QString());
    return abandoned ? written_.load() : ProcessedCount.load();
}

}  // namespace velda
