#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <mutex>
#include <utility>

namespace velda {

// What a result does to a file that already has its name.
enum class ExistingPolicy { Replace, Rename, Skip };

// The output file name for a source name: the text after the last dot is
// replaced by the extension (".jpg"), or the extension is appended to a
// name without a dot.
QString OutputName(const QString& fileName, const QString& extension);

// A stem with the extension, the stem shortened (by whole characters) where
// the name would grow past the system's 255 bytes.
QString StemName(const QString& stem, const QString& extension);

// name with " (n)" before its extension, the stem shortened (by whole
// characters) where the name would grow past the system's 255 bytes.
QString NumberedName(const QString& name, int n);

// The sources of a whole run, whichever folder its results land in: none of
// them is ever replaced by a result. Set up before the run; read-only while
// it lasts.
class RunSources {
  public:
    // Every file below folder (the walked tree, the output folder's own
    // pictures included when it lies inside it).
    void AddTree(const QString& folder);
    // One listed source.
    void AddFile(const QString& path);
    // Every file of folder is a source.
    bool CoversFolder(const QString& folder) const;
    bool Contains(const std::pair<quint64, quint64>& id) const { return files_.contains(id); }

  private:
    QString tree_;  // canonical, with a trailing "/"; empty: none
    QSet<std::pair<quint64, quint64>> files_;
};

// Names the results of one run in one output folder. Names are claimed
// under a lock on the folder and each claim is left there as a dot-named
// file for as long as the run lives, so that runs sharing the folder never
// write the same name; a claim whose run has died (even by kill -9) is
// ignored and cleared. A result replaces an existing file only when the
// policy says Replace, no source is deleted by this run, and the file is
// not one of the run's sources; otherwise it takes the next free
// "name (2).jpg", or with Skip, nothing.
class OutputNamer {
  public:
    // A dry namer chooses the same names but leaves no trace: no claims,
    // no run lock, nothing cleared.
    OutputNamer(const QString& outputDir, ExistingPolicy policy, bool deletingSources,
                bool dry = false, const RunSources* runSources = nullptr);
    ~OutputNamer();  // the run's claims go with it
    OutputNamer(const OutputNamer&) = delete;
    OutputNamer& operator=(const OutputNamer&) = delete;

    struct Claim {
        QString path;          // empty: skipped
        bool replace = false;  // the write may replace a file of that name
    };
    // The result's path for a source file name and the output extension.
    Claim ClaimFor(const QString& fileName, const QString& extension, const QString& sourcePath);
    // The same for a result named by its stem (a name template's result).
    Claim ClaimStem(const QString& stem, const QString& extension, const QString& sourcePath);
    // The claimed name was taken behind our back (by another program): the
    // next free one, never replacing anything.
    Claim ClaimAgain(const QString& fileName, const QString& extension);

  private:
    Claim ClaimName(const QString& name, bool neverReplace);
    void AddSource(const QString& sourcePath);
    bool ClaimedByOtherRun(const QString& name);
    static QByteArray ClaimFile(const QString& name);  // its claim's name in the folder

    std::mutex mutex_;  // workers claim again while the walk claims
    QString dir_;
    ExistingPolicy policy_;
    bool deletingSources_;
    bool dry_;
    int dirFd_ = -1;                             // flock'ed while a name is chosen
    int runLockFd_ = -1;                         // flock'ed for the run's life: our claims are live
    QString runId_;                              // the run lock's file name, written in each claim
    QSet<QString> mine_;                         // names claimed by this run
    QHash<QString, int> nextNumber_;             // per base name: where the search resumes
    QSet<std::pair<quint64, quint64>> sources_;  // device and inode of the run's sources
    const RunSources* runSources_;               // the whole run's; may be null
    bool sourcesFolder_ = false;                 // every file here is a source of the run
};

}  // namespace velda
