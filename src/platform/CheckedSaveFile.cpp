#include "CheckedSaveFile.h"

#include "Error.h"

#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace dagl {

CheckedSaveFile::CheckedSaveFile(const QString &name)
    : QSaveFile(name)
{
}

CheckedSaveFile::~CheckedSaveFile() = default;

bool CheckedSaveFile::open(OpenMode mode)
{
    errno = 0;
    if (QSaveFile::open(mode | QIODevice::Unbuffered))
        return true;
    m_failure = causeOfFileError(error(), errno);
    m_failed = true;
    return false;
}

qint64 CheckedSaveFile::writeData(const char *data, qint64 len)
{
    m_end = qMax(m_end, pos() + len);
    errno = 0;
    const qint64 written = QSaveFile::writeData(data, len);
    if (written != len && !m_failed) {
        // Unbuffered, the failing system call was the last one made: its errno is the reason.
        // Qt itself reports a full disk as a resource error.
        const int reason = errno;
        m_failure = error() == QFileDevice::ResourceError && reason == 0
            ? Cause::DiskFull
            : causeOfFileError(QFileDevice::WriteError, reason);
        m_failed = true;
    }
    return written;
}

void CheckedSaveFile::fail(Cause cause, const QString &detail)
{
    if (!m_failed) {
        m_failure = cause;
        m_failed = true;
    }
    // The temporary file goes when this object does.
    if (isOpen())
        cancelWriting();
    throw Error(causeText(m_failure), m_failure, detail);
}

void CheckedSaveFile::commitChecked(qint64 expectedSize)
{
    if (!isOpen())
        fail(m_failed ? m_failure : Cause::CannotOpen, errorString());
    if (m_failed)
        fail(m_failure, errorString());
    errno = 0;
    if (!flush())
        fail(causeOfFileError(error(), errno), errorString());
    const qint64 expected = expectedSize >= 0 ? expectedSize : m_end;
    const qint64 actual = size();
    if (actual != expected) {
        fail(Cause::DiskFull, QStringLiteral("%1 holds %2 of %3 bytes").arg(fileName()).arg(actual).arg(expected));
    }
#ifndef Q_OS_WIN
    // A file system may only find it has no room when the data goes to disk.
    if (::fsync(handle()) != 0) {
        const int reason = errno;
        fail(causeOfErrno(reason) == Cause::Unknown ? Cause::DeviceError : causeOfErrno(reason),
            QString::fromLocal8Bit(std::strerror(reason)));
    }
#endif
    errno = 0;
    if (!commit()) {
        const int reason = errno;
        m_failure = causeOfFileError(error(), reason);
        m_failed = true;
        throw Error(causeText(m_failure), m_failure, errorString());
    }
}

Cause causeOfDeviceFailure(const QIODevice &device)
{
    if (const auto *checked = dynamic_cast<const CheckedSaveFile *>(&device)) {
        if (checked->failure() != Cause::Unknown)
            return checked->failure();
    }
    if (const auto *file = dynamic_cast<const QFileDevice *>(&device))
        return causeOfFileError(file->error() == QFileDevice::NoError ? QFileDevice::WriteError : file->error());
    return Cause::DeviceError;
}

} // namespace dagl
