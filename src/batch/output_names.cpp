#include "batch/output_names.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

namespace velda {

namespace {

constexpr qsizetype kMaxNameBytes = 255;

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

// Shortens stem by whole characters until stem + tail fits in a name.
QString Fit(QString stem, const QString& tail) {
    while (!stem.isEmpty() && Native(stem + tail).size() > kMaxNameBytes) {
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    }
    return stem + tail;
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

OutputNamer::OutputNamer(const QString& outputDir, ExistingPolicy policy, bool deletingSources,
                         bool dry)
    : dir_(outputDir), policy_(policy), deletingSources_(deletingSources), dry_(dry) {
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
        if (!dry_) ::unlink(Native(ClaimFile(name)).constData());
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

QString OutputNamer::ClaimFile(const QString& name) const {
    const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1);
    return dir_ + QStringLiteral("/.velda-claim-") + QString::fromLatin1(hash.toHex());
}

bool OutputNamer::ClaimedByOtherRun(const QString& name) {
    const QString claim = ClaimFile(name);
    QFile f(claim);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QString owner = QString::fromUtf8(f.readLine(512)).trimmed();
    const QString claimedName = QString::fromUtf8(f.readAll());
    f.close();
    if (claimedName != name) return false;  // another name with the same hash: not ours to judge
    // The owner's run lock is held for as long as it lives.
    const int fd = ::open(Native(dir_ + u'/' + owner).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) return true;  // not ours to judge: taken as alive
    if (fd >= 0) {
        const bool alive = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (!alive && !dry_) ::unlink(Native(dir_ + u'/' + owner).constData());
        ::close(fd);
        if (alive) return true;
    }
    if (!dry_) ::unlink(Native(claim).constData());  // left by a run that died
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
            const bool isProtected =
                claimed || neverReplace || deletingSources_ || sources_.contains(id);
            if (policy_ == ExistingPolicy::Skip && !neverReplace) {
                if (!isProtected || claimed) return {};
                continue;
            }
            if (isProtected || policy_ == ExistingPolicy::Rename) continue;
            replace = true;
        }
        // The claim is made visible before the name is used; a claim that
        // cannot be written (a read-only folder) fails the write later.
        const int fd = dry_ ? -1
                            : ::open(Native(ClaimFile(candidate)).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const QByteArray content = runId_.toUtf8() + '\n' + candidate.toUtf8();
            (void)!::write(fd, content.constData(), static_cast<size_t>(content.size()));
            ::close(fd);
        }
        mine_.insert(candidate);
        nextNumber_[name] = n + 1;
        return {path, replace};
    }
}

}  // namespace velda
