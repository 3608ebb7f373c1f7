#include "temp_files.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rava::image {

namespace {

QString userName() {
#ifdef Q_OS_UNIX
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME");
    return user.isEmpty() ? QStringLiteral("user") : user;
#endif
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString privateTempDir(QString* error) {
    const QString chosen = qEnvironmentVariable("RAVA2_TEMP_DIR");
    const bool isDefault = chosen.isEmpty();
    const QString dir =
        isDefault ? QDir(QDir::tempPath()).filePath(QStringLiteral("rava2-demo-") + userName())
                  : chosen;
    auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("The folder for received images, %1, cannot be used: %2.")
                         .arg(QDir::toNativeSeparators(dir), why);
        return QString();
    };
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return refuse(systemError());
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return refuse(systemError());
    if (S_ISLNK(st.st_mode))
        return refuse(QStringLiteral("it is a symbolic link"));
    if (!S_ISDIR(st.st_mode))
        return refuse(QStringLiteral("it is not a folder"));
    if (st.st_uid != getuid())
        return refuse(QStringLiteral("it belongs to another user"));
    // Others who may create files in the folder may plant a link at one of
    // the fixed names between two receptions (a sticky bit does not stop
    // that): a chosen folder must be ours alone; the default one is made so.
    if (!isDefault && (st.st_mode & 022) != 0)
        return refuse(QStringLiteral("other users can write in it"));
    if (isDefault && (st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return refuse(systemError());
#else
    if (!QDir().mkpath(dir))
        return refuse(QStringLiteral("it cannot be created"));
#endif
    return dir;
}

std::unique_ptr<QFile> openTempFile(const QString& dir, const QString& name, QString* error) {
    const QString path = QDir(dir).filePath(name);
    auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("The file %1 cannot be used: %2.")
                         .arg(QDir::toNativeSeparators(path), why);
        return std::unique_ptr<QFile>();
    };
    auto file = std::make_unique<QFile>();
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return refuse(errno == ELOOP ? QStringLiteral("it is a symbolic link") : systemError());
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
        const QString why = !S_ISREG(st.st_mode) ? QStringLiteral("it is not a plain file")
                                                 : QStringLiteral("it belongs to another user");
        ::close(fd);
        return refuse(why);
    }
    // Emptied only once it is known to be ours.
    if (::ftruncate(fd, 0) != 0) {
        const QString why = systemError();
        ::close(fd);
        return refuse(why);
    }
    if (!file->open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(file->errorString());
    }
#else
    file->setFileName(path);
    if (!file->open(QIODevice::ReadWrite | QIODevice::Truncate))
        return refuse(file->errorString());
#endif
    return file;
}

} // namespace rava::image
