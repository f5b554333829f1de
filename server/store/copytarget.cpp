#include "copytarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

#include <sys/stat.h>

namespace zimble::server {

namespace {

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// The file a path leads to, symlinks followed; nothing when there is none.
std::optional<FileId> fileId(const QString& path, bool* regular = nullptr)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    if (regular)
        *regular = S_ISREG(st.st_mode);
    return FileId{st.st_dev, st.st_ino};
}

// The path with its folder and the file's own symlinks resolved, for a file that may not exist.
QString realPath(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

QString copyTargetProblem(const QString& target, const QString& database)
{
    bool regular = true;
    const std::optional<FileId> existing = fileId(target, &regular);
    if (existing && !regular)
        return QStringLiteral("%1 exists and is not a regular file (a device, a FIFO or a folder); name a file").arg(target);
    if (database.isEmpty())
        return {};
    const QString real = realPath(target), base = realPath(database);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const QString own = database + QLatin1String(suffix);
        const std::optional<FileId> id = fileId(own);
        if ((existing && id && *existing == *id) || real == base + QLatin1String(suffix))
            return QStringLiteral("%1 is the database itself or one of its own files; name another file").arg(target);
    }
    return {};
}

} // namespace zimble::server
