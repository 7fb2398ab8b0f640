#include "pipefile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#else
#include <QSaveFile>
#endif

namespace {

// A copy of a refused file is made up to this size only: copying a file of gigabytes (or a sparse
// one of terabytes) would fill the disk and hold up the start. Such a file is never written over.
constexpr qint64 MaxBackup = 64 * 1024 * 1024;
constexpr qint64 Chunk = 64 * 1024;

// What stands under a name, the name itself not followed when it is a link.
enum class Kind { Missing, Regular, Link, Folder, Special, Unknown };

PipeFile::Refusal refusalOf(Kind kind)
{
    switch (kind) {
    case Kind::Link:
        return PipeFile::Refusal::Link;
    case Kind::Folder:
        return PipeFile::Refusal::Folder;
    case Kind::Special:
        return PipeFile::Refusal::Special;
    default:
        return PipeFile::Refusal::Unreadable;
    }
}

QString kindText(Kind kind)
{
    switch (kind) {
    case Kind::Link:
        return PipeFile::tr("это символьная ссылка");
    case Kind::Folder:
        return PipeFile::tr("это папка");
    case Kind::Special:
        return PipeFile::tr("это не обычный файл");
    default:
        return QString();
    }
}

// Copies what is left in source to out, failing past limit bytes (a negative limit has none).
bool copyAll(QIODevice *source, QIODevice *out, qint64 limit, QString *error)
{
    qint64 total = 0;
    for (;;) {
        const QByteArray chunk = source->read(Chunk);
        if (chunk.isEmpty()) {
            if (!source->atEnd()) {
                *error = source->errorString();
                return false;
            }
            return true;
        }
        total += chunk.size();
        if (limit >= 0 && total > limit) {
            *error = PipeFile::tr("он больше %1 МиБ").arg(limit / (1024 * 1024));
            return false;
        }
        if (out->write(chunk) != chunk.size()) {
            *error = out->errorString();
            return false;
        }
    }
}

// Whether both hold the same bytes from where they stand to their ends.
bool sameContent(QIODevice *a, QIODevice *b)
{
    for (;;) {
        const QByteArray x = a->read(Chunk);
        const QByteArray y = b->read(Chunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            return a->atEnd() && b->atEnd();
    }
}

#ifdef Q_OS_UNIX

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Kind kindOf(const QString &path, struct stat *st, QString *error)
{
    if (::lstat(QFile::encodeName(path).constData(), st) != 0) {
        if (errno == ENOENT)
            return Kind::Missing;
        *error = systemError(errno);
        return Kind::Unknown;
    }
    if (S_ISLNK(st->st_mode))
        return Kind::Link;
    if (S_ISDIR(st->st_mode))
        return Kind::Folder;
    return S_ISREG(st->st_mode) ? Kind::Regular : Kind::Special;
}

// Opens a regular file for reading, never through a link; a FIFO that took the name after it was
// looked at does not make the open wait for a writer.
bool openRegular(const QString &path, QFile *file, Kind *kind, QString *error)
{
    struct stat seen;
    *kind = kindOf(path, &seen, error);
    if (*kind != Kind::Regular)
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *kind = errno == ELOOP ? Kind::Link : Kind::Unknown;
        *error = systemError(errno);
        return false;
    }
    struct stat st;
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode) || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
        *kind = !statted ? Kind::Unknown : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Special;
        *error = PipeFile::tr("он изменился, пока его открывали");
        ::close(fd);
        return false;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *kind = Kind::Unknown;
        *error = file->errorString();
        ::close(fd);
        return false;
    }
    return true;
}

int modeOf(QFile *file)
{
    struct stat st;
    return ::fstat(file->handle(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Puts a new file under the name, filled from source, through a file beside it that takes the
// name once it is complete and read back equal. A link, folder or special file under the name is
// left in place (*kind says which): rename() would replace the link itself, still not ours to
// replace. The new file gets mode, or else the old file's mode.
bool replace(const QString &path, QIODevice *source, qint64 limit, int mode, Kind *kind, QString *error)
{
    struct stat st;
    *kind = kindOf(path, &st, error);
    if (*kind != Kind::Missing && *kind != Kind::Regular)
        return false;
    if (mode < 0 && *kind == Kind::Regular)
        mode = int(st.st_mode & 07777);

    const QByteArray name = QFile::encodeName(path);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = systemError(errno);
        return false;
    }
    QFile out;
    const qint64 from = source->pos();
    struct stat written;
    const bool ok = [&] {
        if (!out.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
            *error = out.errorString();
            ::close(fd);
            return false;
        }
        if (mode >= 0 && ::fchmod(fd, mode_t(mode)) != 0) {
            *error = systemError(errno);
            return false;
        }
        if (!copyAll(source, &out, limit, error))
            return false;
        if (!out.flush()) {
            *error = out.errorString();
            return false;
        }
        if (::fsync(fd) != 0 || ::fstat(fd, &written) != 0) {
            *error = systemError(errno);
            return false;
        }
        if (!out.seek(0) || !source->seek(from) || !sameContent(&out, source)) {
            *error = PipeFile::tr("прочитанное не совпало с записанным");
            return false;
        }
        // Something may have taken the name meanwhile.
        *kind = kindOf(path, &st, error);
        if (*kind != Kind::Missing && *kind != Kind::Regular)
            return false;
        if (::rename(temp.constData(), name.constData()) != 0) {
            *error = systemError(errno);
            return false;
        }
        return true;
    }();
    out.close();
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    // Only our own file under the name counts as written.
    if (kindOf(path, &st, error) != Kind::Regular || st.st_dev != written.st_dev || st.st_ino != written.st_ino) {
        *error = PipeFile::tr("его имя занял другой файл");
        return false;
    }
    return true;
}

#else

Kind kindOf(const QString &path, QString *)
{
    const QFileInfo info(path);
    // Asked before exists() and isFile(), which follow a link.
    if (info.isSymLink() || info.isJunction())
        return Kind::Link;
    if (!info.exists())
        return Kind::Missing;
    if (info.isDir())
        return Kind::Folder;
    return info.isFile() ? Kind::Regular : Kind::Special;
}

bool openRegular(const QString &path, QFile *file, Kind *kind, QString *error)
{
    *kind = kindOf(path, error);
    if (*kind != Kind::Regular)
        return false;
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *kind = Kind::Unknown;
        *error = file->errorString();
        return false;
    }
    return true;
}

int modeOf(QFile *)
{
    return -1;
}

bool replace(const QString &path, QIODevice *source, qint64 limit, int, Kind *kind, QString *error)
{
    *kind = kindOf(path, error);
    if (*kind != Kind::Missing && *kind != Kind::Regular)
        return false;
    const qint64 from = source->pos();
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    if (!copyAll(source, &out, limit, error)) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    QFile back;
    Kind now = Kind::Unknown;
    if (!openRegular(path, &back, &now, error) || !source->seek(from) || !sameContent(&back, source)) {
        *error = PipeFile::tr("прочитанное не совпало с записанным");
        return false;
    }
    return true;
}

#endif

} // namespace

PipeFile::ReadResult PipeFile::read(const QString &fileName, QJsonArray *records)
{
    ReadResult result;
    QFile file;
    Kind kind = Kind::Unknown;
    if (!openRegular(fileName, &file, &kind, &result.detail)) {
        result.missing = kind == Kind::Missing;
        if (!result.missing)
            result.refusal = refusalOf(kind);
        if (!kindText(kind).isEmpty())
            result.detail = kindText(kind);
        return result;
    }
    // A byte past the bound tells a file that is too large, whatever its size said a moment ago.
    const QByteArray text = file.read(MaxSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.refusal = Refusal::Unreadable;
        result.detail = file.errorString();
        return result;
    }
    QJsonDocument doc;
    if (text.size() > MaxSize) {
        result.refusal = Refusal::TooLarge;
    } else {
        QJsonParseError error;
        doc = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError) {
            result.refusal = Refusal::NotAList;
            result.detail = tr("%1 в байте %2").arg(error.errorString()).arg(error.offset);
        } else if (!doc.isArray()) {
            result.refusal = Refusal::NotAList;
            result.detail = tr("это не массив JSON");
        }
    }
    if (result.refusal != Refusal::None) {
        // The next save would replace the user's file: a copy of it beside the original keeps a
        // typo from costing every connection.
        result.backedUp = backUp(fileName, &file, &result.backupDetail);
        return result;
    }
    *records = doc.array();
    return result;
}

bool PipeFile::backUp(const QString &fileName, QFile *source, QString *why)
{
    if (source->size() > MaxBackup) {
        *why = tr("он больше %1 МиБ").arg(MaxBackup / (1024 * 1024));
        return false;
    }
    if (!source->seek(0)) {
        *why = source->errorString();
        return false;
    }
    Kind kind = Kind::Unknown;
    const bool copied = replace(backupName(fileName), source, MaxBackup, modeOf(source), &kind, why);
    if (!copied && kind != Kind::Missing && kind != Kind::Regular && kind != Kind::Unknown)
        *why = kindText(kind);
    return copied;
}

bool PipeFile::write(const QString &fileName, const QJsonArray &records, Refusal *refusal)
{
    QByteArray text = QJsonDocument(records).toJson(QJsonDocument::Indented);
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    Kind kind = Kind::Unknown;
    QString error;
    const bool written = replace(fileName, &buffer, -1, -1, &kind, &error);
    if (refusal) {
        const bool inTheWay = kind == Kind::Link || kind == Kind::Folder || kind == Kind::Special;
        *refusal = !written && inTheWay ? refusalOf(kind) : Refusal::None;
    }
    return written;
}
