#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "batch/batch_run.h"

class QLabel;
class QObject;
class QProgressBar;

namespace velda {

class Prompter;

// Runs the desktop's batches on a thread of their own: the run's questions
// and messages are shown on the window's thread, its progress in a label
// and a bar. Owns the thread: stopped and joined before it goes.
class BatchController {
  public:
    BatchController(QObject* window, Prompter& prompter);
    ~BatchController();
    BatchController(const BatchController&) = delete;
    BatchController& operator=(const BatchController&) = delete;

    bool Running() const { return thread_.joinable(); }
    BatchRun& run() { return run_; }
    const BatchRun& run() const { return run_; }

    // Starts a run of job; finished is called on the window's thread with
    // the number of files processed, once the run's thread has ended.
    void Start(std::shared_ptr<const BatchJob> job, const BatchRequest& request, QLabel* label,
               QProgressBar* bar, std::function<void(int processed)> finished);
    // Asks the run to stop between files.
    void Stop() { run_.StopRequested = true; }
    // Stops the run and waits for its files in progress, answering the
    // questions it may still ask meanwhile.
    void StopAndWait();
    // What the run did: its count, then the first twenty files that failed
    // and those written with a remark, each with its reason.
    QString Report(int processed) const;

  private:
    void Finished(int processed);

    QObject* window_;
    Prompter& prompter_;
    BatchRun run_;
    std::thread thread_;
    std::unique_ptr<BatchHost> host_;
    std::function<void(int)> finished_;
};

}  // namespace velda
