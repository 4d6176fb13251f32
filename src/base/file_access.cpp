#include "base/file_access.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringDecoder>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

namespace velda {

namespace {

// Code points of bytes 0x80 to 0x9F in Windows-1252; 0 where it has none.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

#ifdef Q_OS_UNIX
QString Reason(int error) {
    return QString::fromLocal8Bit(strerror(error));
}

// Opens without following the name into a pipe's wait or a terminal.
int OpenForReading(const QByteArray& name) {
    return ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}
#endif

}  // namespace

QString DecodeWindows1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b >= 0x80 && b < 0xA0) {
            out.append(QChar(kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : char16_t(b)));
        } else {
            out.append(QChar(char16_t(b)));
        }
    }
    return out;
}

bool EncodeWindows1252(const QString& text, QByteArray* out) {
    out->clear();
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out->append(static_cast<char>(u));
            continue;
        }
        const char16_t* hit = std::find(std::begin(kCp1252High), std::end(kCp1252High), u);
        if (hit == std::end(kCp1252High) || u == 0) return false;
        out->append(static_cast<char>(0x80 + (hit - std::begin(kCp1252High))));
    }
    return true;
}

QString DecodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? DecodeWindows1252(bytes) : text;
}

QByteArray NativePath(const QString& path) {
    const QByteArray utf8 = QFile::encodeName(path);
    QByteArray legacy;
    if (QFileInfo::exists(path) || !EncodeWindows1252(path, &legacy) || legacy == utf8) return utf8;
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(legacy.constData(), &st) == 0) return legacy;
#endif
    return utf8;
}

bool IsReadableRegularFile(const QString& path) {
    if (path.isEmpty()) return false;
#ifdef Q_OS_UNIX
    const int fd = OpenForReading(NativePath(path));
    if (fd < 0) return false;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
#else
    const QFileInfo info(path);
    return info.isFile() && QFile(path).open(QIODevice::ReadOnly);
#endif
}

FileRead ReadRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes) {
    FileRead r;
    bytes->clear();
    if (path.isEmpty()) return {ReadError::Missing, QStringLiteral("no file name")};
#ifdef Q_OS_UNIX
    const int fd = OpenForReading(NativePath(path));
    if (fd < 0) {
        const int e = errno;
        return {e == ENOENT || e == ENOTDIR ? ReadError::Missing : ReadError::Failed, Reason(e)};
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {ReadError::NotRegular,
                QStringLiteral("not a regular file (a folder, pipe or device)")};
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        return {ReadError::TooLarge, QStringLiteral("file of %1 bytes").arg(st.st_size)};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {ReadError::Failed, file.errorString()};
    }
    const qint64 size = st.st_size;
#else
    QFile file(path);
    if (!QFileInfo(path).isFile()) return {ReadError::NotRegular, QStringLiteral("not a file")};
    if (!file.open(QIODevice::ReadOnly)) return {ReadError::Missing, file.errorString()};
    if (file.size() > maxBytes) return {ReadError::TooLarge, QString()};
    const qint64 size = file.size();
#endif
    // Exactly the file's size: asking for the limit would set aside that
    // much memory for every file read.
    try {
        bytes->resize(static_cast<qsizetype>(size));
    } catch (const std::bad_alloc&) {
        return {ReadError::Failed, QStringLiteral("not enough memory")};
    }
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(bytes->data() + got, size - got);
        if (n <= 0) break;  // cut short while being read: what there is
        got += n;
    }
    bytes->truncate(static_cast<qsizetype>(got));
    if (file.error() != QFileDevice::NoError) return {ReadError::Failed, file.errorString()};
    return r;
}

FileWrite WriteFileAtomic(const QString& path, const QByteArray& bytes, bool durable,
                          bool replace) {
#ifdef Q_OS_UNIX
    const QByteArray target = QFile::encodeName(path);
    const QString dir = QFileInfo(path).absolutePath();
    // The temporary's name starts with a dot, so a folder walk never takes
    // it. Created with open's own mode, so the umask applies without our
    // ever touching it (it is process-wide, and workers run at once).
    QByteArray tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = QFile::encodeName(
            dir + QStringLiteral("/.velda-%1.tmp")
                      .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0')));
        fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return {false, false, Reason(errno)};
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(tmp.constData());
        return FileWrite{false, false, Reason(error)};
    };
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        done += n;
    }
    if (durable && ::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(tmp.constData());
        return {false, false, Reason(e)};
    }
    int rc = 0;
    if (replace) {
        rc = ::rename(tmp.constData(), target.constData());
    } else {
        rc = ::renameat2(AT_FDCWD, tmp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a hard link is
            // just as atomic about an existing name.
            rc = ::link(tmp.constData(), target.constData());
            if (rc == 0) ::unlink(tmp.constData());
        }
    }
    if (rc != 0) {
        const int e = errno;
        ::unlink(tmp.constData());
        return {false, e == EEXIST,
                e == EEXIST ? QStringLiteral("a file of that name exists") : Reason(e)};
    }
    return {true, false, QString()};
#else
    if (!replace && QFileInfo::exists(path)) return {false, true, QStringLiteral("exists")};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {false, false, file.errorString()};
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return {false, false, file.errorString()};
    }
    if (!file.commit()) return {false, false, file.errorString()};
    (void)durable;
    return {true, false, QString()};
#endif
}

bool FileExists(const QString& path) {
    return IsReadableRegularFile(path);
}

}  // namespace velda
