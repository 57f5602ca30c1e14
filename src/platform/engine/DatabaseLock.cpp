#include "DatabaseLock.h"

#include "Error.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace dagl {

namespace {

#ifndef Q_OS_WIN
Error systemError(int error)
{
    const Cause cause = causeOfErrno(error);
    return Error(causeText(cause), cause, QString::fromLocal8Bit(std::strerror(error)));
}

int openLockFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) // an existing lock file in a folder we may not write to
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    return fd;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

Error inUse()
{
    return Error(causeText(Cause::InUse), Cause::InUse, QStringLiteral("The database is held by another program."));
}
#endif

} // namespace

DatabaseLock::~DatabaseLock()
{
    unlock();
}

QString DatabaseLock::lockPathFor(const QString &database)
{
    return database + QStringLiteral(".lock");
}

void DatabaseLock::lockShared(const QString &database)
{
    unlock();
#ifndef Q_OS_WIN
    int fd = openLockFile(lockPathFor(database));
    if (fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        closeFd(fd);
        if (error == EWOULDBLOCK)
            throw inUse();
        throw systemError(error);
    }
    m_fd = fd;
#endif
    m_database = database;
    m_locked = true;
}

void DatabaseLock::unlock()
{
#ifndef Q_OS_WIN
    closeFd(m_fd);
    closeFd(m_gate);
#endif
    m_locked = false;
    m_exclusive = false;
}

bool DatabaseLock::tryExclusive()
{
    if (!m_locked)
        throw Error(QStringLiteral("The database is not locked."));
    if (m_exclusive)
        return true;
#ifndef Q_OS_WIN
    if (m_fd < 0) {
        m_fd = openLockFile(lockPathFor(m_database));
        if (m_fd < 0)
            throw systemError(errno);
        if (::flock(m_fd, LOCK_SH | LOCK_NB) != 0) {
            closeFd(m_fd);
            return false;
        }
    }
    // Changing a flock from shared to exclusive lets go of the shared one first. The gate
    // (the database's folder, locked in turn) keeps a second copy from slipping into the
    // gap of a change that fails, so only one copy at a time tries.
    m_gate = ::open(QFile::encodeName(QFileInfo(m_database).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (m_gate < 0)
        throw systemError(errno);
    if (::flock(m_gate, LOCK_EX | LOCK_NB) != 0) {
        closeFd(m_gate);
        return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        // Nobody can hold it exclusively while we hold the gate: shared comes back at once.
        ::flock(m_fd, LOCK_SH);
        closeFd(m_gate);
        return false;
    }
#endif
    m_exclusive = true;
    return true;
}

void DatabaseLock::toShared()
{
    if (!m_exclusive)
        return;
#ifndef Q_OS_WIN
    ::flock(m_fd, LOCK_SH);
    closeFd(m_gate);
#endif
    m_exclusive = false;
}

} // namespace dagl
