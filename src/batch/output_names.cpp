#include "batch/output_names.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace velda {

namespace {

constexpr qsizetype kMaxNameBytes = 255;

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

// The longest prefix of stem, in whole characters, that fits with tail in a
// name: found by halving, so that a name of any length costs a few
// encodings rather than one per character. A name that would start with a
// dot gets "_" in front: dot-files are hidden, and every listing of ours
// (the walk, later runs) passes them over.
QString Fit(QString stem, const QString& tail) {
    if ((stem.isEmpty() ? tail : stem).startsWith(u'.')) stem.prepend(u'_');
    if (Native(stem + tail).size() <= kMaxNameBytes) return stem + tail;
    qsizetype fits = 0, fails = stem.size();
    while (fails - fits > 1) {
        const qsizetype mid = fits + (fails - fits) / 2;
        (Native(stem.left(mid) + tail).size() <= kMaxNameBytes ? fits : fails) = mid;
    }
    if (fits > 0 && stem[fits].isLowSurrogate()) --fits;  // never half a character
    return stem.left(fits) + tail;
}

std::pair<QString, QString> SplitExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) return {name, QString()};
    return {name.left(dot), name.mid(dot)};
}

bool Exists(const QString& path, std::pair<quint64, quint64>* id = nullptr) {
    struct stat st;
    if (::lstat(Native(path).constData(), &st) != 0) return false;
    if (id) *id = {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
    return true;
}

// Holds an flock for a scope.
class FlockGuard {
  public:
    explicit FlockGuard(int fd) : fd_(fd) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FlockGuard() {
        if (fd_ >= 0) ::flock(fd_, LOCK_UN);
    }
    FlockGuard(const FlockGuard&) = delete;
    FlockGuard& operator=(const FlockGuard&) = delete;

  private:
    int fd_;
};

}  // namespace

QString OutputName(const QString& fileName, const QString& extension) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return Fit(dot < 0 ? fileName : fileName.left(dot), extension);
}

QString StemName(const QString& stem, const QString& extension) {
    return Fit(stem, extension);
}

QString NumberedName(const QString& name, int n) {
    const auto [stem, ext] = SplitExtension(name);
    return Fit(stem, QStringLiteral(" (%1)").arg(n) + ext);
}

namespace {

QString CanonicalFolder(const QString& folder) {
    const QString c = QFileInfo(folder).canonicalFilePath();
    return c.isEmpty() ? QString() : (c.endsWith(u'/') ? c : c + u'/');
}

}  // namespace

void RunSources::AddTree(const QString& folder) {
    tree_ = CanonicalFolder(folder);
}

void RunSources::AddFile(const QString& path) {
    std::pair<quint64, quint64> id;
    if (Exists(path, &id)) files_.insert(id);
}

bool RunSources::CoversFolder(const QString& folder) const {
    return !tree_.isEmpty() && CanonicalFolder(folder).startsWith(tree_);
}

OutputNamer::OutputNamer(const QString& outputDir, ExistingPolicy policy, bool deletingSources,
                         bool dry, const RunSources* runSources)
    : dir_(outputDir),
      policy_(policy),
      deletingSources_(deletingSources),
      dry_(dry),
      runSources_(runSources),
      sourcesFolder_(runSources && runSources->CoversFolder(outputDir)) {
    dirFd_ = ::open(Native(dir_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dry_) return;
    for (int attempt = 0; attempt < 100 && runLockFd_ < 0; ++attempt) {
        runId_ = QStringLiteral(".velda-run-%1-%2")
                     .arg(::getpid())
                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0'));
        runLockFd_ = ::open(Native(dir_ + u'/' + runId_).constData(),
                            O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (runLockFd_ >= 0) ::flock(runLockFd_, LOCK_EX);
}

OutputNamer::~OutputNamer() {
    std::lock_guard guard(mutex_);
    FlockGuard lock(dirFd_);
    for (const QString& name : std::as_const(mine_))
        if (!dry_) ::unlinkat(dirFd_, ClaimFile(name).constData(), 0);
    if (runLockFd_ >= 0) {
        ::unlink(Native(dir_ + u'/' + runId_).constData());
        ::close(runLockFd_);
    }
    if (dirFd_ >= 0) {
        ::flock(dirFd_, LOCK_UN);
        ::close(dirFd_);
        dirFd_ = -1;
    }
}

QByteArray OutputNamer::ClaimFile(const QString& name) {
    return ".velda-claim-" +
           QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
}

namespace {

constexpr qsizetype kMaxClaimBytes = 4096;

// Opens a name of the output folder for reading without following a link
// or waiting on a pipe: -1 with errno set when it cannot.
int OpenInFolder(int dirFd, const QByteArray& name) {
    return ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool IsRegular(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// A run lock's name as our runs write it: a plain name in the same folder.
bool IsRunLockName(const QString& name) {
    return name.startsWith(QStringLiteral(".velda-run-")) && name.size() <= 64 &&
           !name.contains(u'/') && !name.contains(u'\0');
}

}  // namespace

bool OutputNamer::ClaimedByOtherRun(const QString& name) {
    // Claims lie in a folder anyone may write to: whatever is there is read
    // as data, never followed, and never opened outside the folder.
    if (dirFd_ < 0) return false;  // no folder yet (a dry run): nothing claimed in it
    const QByteArray claimName = ClaimFile(name);
    const int fd = OpenInFolder(dirFd_, claimName);
    if (fd < 0) return errno != ENOENT;  // a link or worse: the name counts as taken
    QByteArray content(kMaxClaimBytes, Qt::Uninitialized);
    const ssize_t got = IsRegular(fd) ? ::read(fd, content.data(), kMaxClaimBytes) : -1;
    ::close(fd);
    if (got < 0) return true;
    content.truncate(got);
    const qsizetype eol = content.indexOf('\n');
    const QString owner = QString::fromUtf8(content.left(eol)).trimmed();
    const QString claimedName = QString::fromUtf8(content.mid(eol + 1));
    // Another name with the same hash, or a claim we did not write: foreign.
    if (eol < 0 || claimedName != name || !IsRunLockName(owner)) return true;
    // The owner's run lock is held for as long as it lives.
    const QByteArray ownerName = QFile::encodeName(owner);
    const int lock = OpenInFolder(dirFd_, ownerName);
    if (lock < 0 && errno != ENOENT) return true;  // not ours to judge: taken as alive
    if (lock >= 0) {
        const bool alive = !IsRegular(lock) || ::flock(lock, LOCK_EX | LOCK_NB) != 0;
        if (!alive && !dry_) ::unlinkat(dirFd_, ownerName.constData(), 0);
        ::close(lock);
        if (alive) return true;
    }
    if (!dry_) ::unlinkat(dirFd_, claimName.constData(), 0);  // left by a run that died
    return false;
}

void OutputNamer::AddSource(const QString& sourcePath) {
    std::pair<quint64, quint64> id;
    if (Exists(sourcePath, &id)) {
        std::lock_guard guard(mutex_);
        sources_.insert(id);
    }
}

OutputNamer::Claim OutputNamer::ClaimFor(const QString& fileName, const QString& extension,
                                         const QString& sourcePath) {
    AddSource(sourcePath);
    return ClaimName(OutputName(fileName, extension), false);
}

OutputNamer::Claim OutputNamer::ClaimStem(const QString& stem, const QString& extension,
                                          const QString& sourcePath) {
    AddSource(sourcePath);
    return ClaimName(StemName(stem, extension), false);
}

OutputNamer::Claim OutputNamer::ClaimAgain(const QString& fileName, const QString& extension) {
    return ClaimName(OutputName(fileName, extension), true);
}

OutputNamer::Claim OutputNamer::ClaimName(const QString& name, bool neverReplace) {
    std::lock_guard guard(mutex_);
    FlockGuard lock(dirFd_);
    int n = nextNumber_.value(name, 1);
    for (;; ++n) {
        const QString candidate = n == 1 ? name : NumberedName(name, n);
        if (mine_.contains(candidate)) continue;
        const QString path = dir_ + u'/' + candidate;
        const bool claimed = ClaimedByOtherRun(candidate);
        std::pair<quint64, quint64> id;
        const bool exists = claimed || Exists(path, &id);
        bool replace = false;
        if (exists) {
            const bool isProtected = claimed || neverReplace || deletingSources_ ||
                                     sourcesFolder_ || sources_.contains(id) ||
                                     (runSources_ && runSources_->Contains(id));
            if (policy_ == ExistingPolicy::Skip && !neverReplace) {
                if (!isProtected || claimed) return {};
                continue;
            }
            if (isProtected || policy_ == ExistingPolicy::Rename) continue;
            replace = true;
        }
        // The claim is made visible before the name is used; a claim that
        // cannot be written (a read-only folder) fails the write later. One
        // that appeared since it was read (another run, a planted file)
        // makes the name taken.
        if (!dry_) {
            const int fd = ::openat(dirFd_, ClaimFile(candidate).constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0 && errno == EEXIST) continue;
            if (fd >= 0) {
                const QByteArray content = runId_.toUtf8() + '\n' + candidate.toUtf8();
                (void)!::write(fd, content.constData(), static_cast<size_t>(content.size()));
                ::close(fd);
            }
        }
        mine_.insert(candidate);
        nextNumber_[name] = n + 1;
        return {path, replace};
    }
}

}  // namespace velda
