#pragma once

#include <QElapsedTimer>
#include <QString>

#include "batch/batch_run.h"

namespace velda::cli {

// Gives the process's standard error to our messages alone: what libraries
// print there is dropped. Call in main() before any thread starts.
void KeepStandardErrorForOurOwn();

// velda-batch's side of a run: no questions are asked (the command line is
// the confirmation), messages go to standard error, and progress is a live
// bar on a terminal or one line per file otherwise.
class CliHost : public BatchHost {
  public:
    explicit CliHost(bool quiet);

    bool Ask(Question about, const QString& text, Icon icon) override;
    void Inform(Notice about, const QString& text, Icon icon) override;
    void FileDone(const QString& source, Outcome outcome, const Status& status, int done) override;
    void Total(int files) override { total_ = files; }
    // A dry run's line on standard output: "SOURCE -> RESULT".
    void Planned(const QString& source, const QString& target) override;
    int planned() const { return planned_; }
    void EndProgress();

  private:
    int total_ = 0;
    int planned_ = 0;
    bool quiet_;
    bool terminal_;
    bool barShown_ = false;
    QElapsedTimer clock_;
};

// Writes a line to standard error, after any live bar.
void Err(const QString& line);

}  // namespace velda::cli
