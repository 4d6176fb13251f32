#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>

#include "batch/batch_job.h"
#include "batch/directory_scan.h"
#include "batch/output_names.h"
#include "imaging/status.h"

namespace velda {

// How a run talks to whoever started it: the desktop program shows message
// boxes and a progress label, velda-batch writes to its streams.
class BatchHost {
  public:
    enum class Icon { Exclamation, Critical, Question };
    virtual ~BatchHost() = default;
    // What the run asks and tells, so that a host can answer or pass over
    // a message by what it is about rather than by its words.
    enum class Question {
        CreateOutput,     // the output folder is missing: make it?
        Start,            // the confirmation of the run
        GoOnAfterFolder,  // a folder of the tree could not be read: go on?
    };
    enum class Notice { NothingChosen, OutputNotMade, OutputIsInput, Stopped };
    // A Yes/No question; true for Yes.
    virtual bool Ask(Question about, const QString& text, Icon icon) = 0;
    // A message with an OK button.
    virtual void Inform(Notice about, const QString& text, Icon icon) = 0;
    // The progress label's text: "File(s) processed: N", " " between files,
    // empty at the end.
    virtual void Progress(const QString&) {}
    // A file finished: written, failed (status says why) or skipped (its
    // result's name was taken and the policy says skip); done counts
    // finished files. Called from worker threads, one call at a time.
    enum class Outcome { Written, Failed, Skipped };
    virtual void FileDone(const QString& source, Outcome outcome, const Status& status, int done) {
        (void)source, (void)outcome, (void)status, (void)done;
    }
    // Lets the host's event loop run between files.
    virtual void Yield() {}
    // The number of files the run will take, once it is past its checks and
    // confirmation (a tree is counted only when the request asks).
    virtual void Total(int files) { (void)files; }
    // A dry run's plan for one file: the result it would write (empty:
    // none, its name is taken and the policy says skip).
    virtual void Planned(const QString& source, const QString& target) {
        (void)source, (void)target;
    }
};

struct BatchRequest {
    QString inputDir;
    QString outputDir;
    bool tree = false;  // every picture of the tree, else the files below
    QStringList files;  // list mode: the selected names, in list order
    int listed = -1;    // list mode: entries the list shows; -1: as many as files
    bool deleteSources = false;
    ExistingPolicy existing = ExistingPolicy::Replace;  // where deleting sources allows a choice
    int jobs = 0;                                       // worker threads; 0: one per core
    qint64 memoryBytes = 0;  // the run's memory budget; 0: half the machine's memory
    bool countTree = false;  // count a tree's pictures first, for a progress bar
    bool keepTree = false;   // tree mode: results in the same relative folders
    // Name every result and say so, but write, create and delete nothing.
    bool dryRun = false;
    DirectoryLister lister = ListDirectory;
};

// One batch run: the checks, the confirmation, the walk or the list, the
// files processed in parallel, and the count.
class BatchRun {
  public:
    // Set by Cancel (from any thread); seen between files.
    std::atomic<bool> StopRequested{false};
    // Files handed to the pipeline in the current run.
    std::atomic<int> ProcessedCount{0};

    // Runs the batch; returns the number of files processed (written or
    // failed), 0 when the run was refused, and the number written when the
    // user chose to end it after an error. The job is read-only while the
    // run lasts.
    int RunBatch(const BatchRequest& request, const BatchJob& job, BatchHost& host);

    struct Problem {
        QString path;
        QString reason;
        int order = 0;  // where the walk or the list met it
    };
    // Sources that could not be converted, and folders that could not be
    // read, with the reason, in the order the walk or the list met them.
    QList<Problem> Failures() const { return InWalkOrder(failures_); }
    // Written results with a remark (encoded whole, a mark left out), in
    // the order the walk or the list met them.
    QList<Problem> Notes() const { return InWalkOrder(notes_); }
    // Sources whose result was not written because its name was taken.
    QStringList Skipped() const;
    // Results written by the last run.
    int Written() const { return written_; }
    // True when the last run got past its checks and confirmation.
    bool Started() const { return started_; }

  private:
    // A copy, taken under the lock, sorted by where the walk met each.
    QList<Problem> InWalkOrder(const QList<Problem>& problems) const;

    mutable std::mutex mutex_;
    QList<Problem> failures_;
    QList<Problem> notes_;
    QStringList skipped_;
    std::atomic<int> written_{0};
    bool started_ = false;
};

// True when the directory exists and can be entered.
bool DirectoryExists(const QString& path);
// Creates the one directory at path; false when it cannot (or exists), with
// the system's reason.
bool MakeDirectory(const QString& path, QString* reason = nullptr);
// Makes the folders of relative, one by one, inside root, never following a
// link (any that is not a real folder fails the call); path is the last.
// Without create, checks the folders that exist and makes none.
Status MakeFolderInside(const QString& root, const QString& relative, bool create, QString* path);
// The same directory named two ways (separators, "..", links)?
bool SameDirectory(const QString& a, const QString& b);

}  // namespace velda
