#include "open_failure.h"

#include "device_map.h"
#include "serial_channel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rava {

namespace {

#ifdef Q_OS_UNIX
// Whether this user belongs to `gid` in the group database (which is what
// the next login will carry) but not in this process.
bool joinedAfterLogin(gid_t gid) {
    if (getegid() == gid)
        return false;
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        QVector<gid_t> now(n);
        if (getgroups(n, now.data()) == n && now.contains(gid))
            return false;
    }
    const passwd* user = getpwuid(getuid());
    if (!user)
        return false;
    if (user->pw_gid == gid)
        return true;
    const group* g = getgrgid(gid);
    if (!g || !g->gr_mem)
        return false;
    for (char** member = g->gr_mem; *member; ++member)
        if (qstrcmp(*member, user->pw_name) == 0)
            return true;
    return false;
}
#endif

QString processName(qint64 pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll()).trimmed();
    return QString();
}

QString holderText(qint64 pid) {
    const QString name = processName(pid);
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("%1 (process %2)").arg(name).arg(pid);
}

QString listed(const QStringList& items) {
    return items.join(QStringLiteral(", "));
}

} // namespace

QStringList holdersOf(const QString& path) {
    QStringList holders;
#ifdef Q_OS_LINUX
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return holders;
    const qint64 self = QCoreApplication::applicationPid();
    QList<qint64> pids;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == target) {
                pids << pid;
                break;
            }
        }
    }
    // A lock file as UUCP programs and Qt leave it, named after the path
    // below /dev that the holder opened (the device, or a link to it), with
    // the holder's process number on its first line.
    QStringList lockNames;
    for (QString name : {target, QDir::cleanPath(path)}) {
        if (name.startsWith(QLatin1String("/dev/")))
            name = name.mid(5);
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        if (!lockNames.contains(name))
            lockNames << name;
    }
    QStringList lockDirs{QStringLiteral("/var/lock"),       QStringLiteral("/run/lock"),
                         QStringLiteral("/etc/locks"),      QStringLiteral("/var/spool/locks"),
                         QStringLiteral("/var/spool/uucp"), QDir::tempPath()};
    for (const QString& dir : lockDirs) {
        for (const QString& name : lockNames) {
            QFile lock(QStringLiteral("%1/LCK..%2").arg(dir, name));
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            bool number = false;
            const qint64 pid = QString::fromLatin1(lock.readLine()).trimmed().toLongLong(&number);
            if (number && pid > 0 && pid != self && !pids.contains(pid) &&
                QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
                pids << pid;
        }
    }
    for (qint64 pid : pids)
        holders << holderText(pid);
#else
    Q_UNUSED(path);
#endif
    return holders;
}

DeviceFacts inspectDevice(const QString& path) {
    DeviceFacts f;
    const QFileInfo info(path);
    f.exists = info.exists();
#ifdef Q_OS_UNIX
    if (f.exists) {
        const QByteArray native = QFile::encodeName(path);
        f.accessible = ::access(native.constData(), R_OK | W_OK) == 0;
        struct stat st {};
        if (::stat(native.constData(), &st) == 0) {
            f.group = info.group();
            f.groupAfterLogin = joinedAfterLogin(st.st_gid);
        }
        if (f.accessible)
            f.holders = holdersOf(path);
    }
#else
    f.accessible = f.exists;
#endif
    if (!f.exists) {
        for (int port = 1; port <= 4; ++port) {
            const EntryDevice entry = DeviceChoices::instance().resolve(port);
            if (QFileInfo::exists(entry.path))
                f.presentEntries << entry;
        }
        f.plugged = presentDevices();
    }
    return f;
}

QString openFailureText(const EntryDevice& entry, QSerialPort::SerialPortError error,
                        const QString& systemText, const DeviceFacts& facts) {
    const QString where = QStringLiteral("%1 (%2)").arg(portLabel(entry.port), entry.path);
    QString text = QStringLiteral("Cannot open %1: ").arg(where);
    if (error == QSerialPort::DeviceNotFoundError || !facts.exists) {
        text += QStringLiteral("the device is not there (not plugged in, or no such device).");
        QStringList entries;
        for (const EntryDevice& e : facts.presentEntries)
            entries << QStringLiteral("%1 (%2)").arg(portLabel(e.port), e.path);
        text += entries.isEmpty()
                    ? QStringLiteral(" No entry's device is there now.")
                    : QStringLiteral(" Entries whose device is there: %1.").arg(listed(entries));
        QStringList plugged;
        for (const SerialDevice& d : facts.plugged)
            plugged << d.path();
        text += plugged.isEmpty() ? QStringLiteral(" No serial adapter is plugged in.")
                                  : QStringLiteral(" Plugged in now: %1.").arg(listed(plugged));
        if (entry.origin == DeviceOrigin::Environment)
            return text +
                   QStringLiteral(" The device is named by %1.").arg(portVariable(entry.port));
        return text + QStringLiteral(" Choose the device of %1 with a right-click on the port list "
                                     "(or Ctrl+D there).")
                          .arg(portLabel(entry.port));
    }
    if (error == QSerialPort::PermissionError && !facts.accessible) {
        text += QStringLiteral("permission denied.");
        const bool groupCures = !facts.group.isEmpty() && facts.group != QLatin1String("root");
        if (groupCures && facts.groupAfterLogin)
            return text + QStringLiteral(" The device belongs to the group %1, which you joined "
                                         "after this login began: log out and log in again.")
                              .arg(facts.group);
        if (groupCures)
            return text +
                   QStringLiteral(" The device belongs to the group %1. Add yourself to it "
                                  "with\n    sudo usermod -aG %1 \"$USER\"\nthen log out and "
                                  "log in again (the group counts from a new login on).")
                       .arg(facts.group);
        return text + QStringLiteral(" Only root may use the device: ask the administrator to give "
                                     "your user read and write access to %1.")
                          .arg(entry.path);
    }
    if (error == QSerialPort::PermissionError || error == QSerialPort::OpenError) {
        if (!facts.holders.isEmpty())
            return text + QStringLiteral("another program holds the device: %1. Close it, then "
                                         "try again.")
                              .arg(listed(facts.holders));
        return text +
               QStringLiteral("another program holds the device (%1). Close the program "
                              "that uses it, then try again.")
                   .arg(systemText.isEmpty() ? QStringLiteral("it is busy or locked") : systemText);
    }
    return text + describeSerialError(error, systemText) + QLatin1Char('.');
}

QString openFailureText(int port, const QString& path, QSerialPort::SerialPortError error,
                        const QString& systemText) {
    EntryDevice entry = DeviceChoices::instance().resolve(port);
    entry.path = path;
    return openFailureText(entry, error, systemText, inspectDevice(path));
}

} // namespace rava
