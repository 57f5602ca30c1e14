#include "Cause.h"

#include <cerrno>

namespace dagl {

namespace {

struct CauseEntry {
    Cause cause;
    const char *text;
};

const CauseEntry kCauses[] = {
    { Cause::Unknown, "原因不明。" },
    { Cause::DiskFull, "磁盘已满，没有足够的空间写入。" },
    { Cause::ReadOnly, "文件或文件夹只读，不能写入。" },
    { Cause::InUse, "文件被另一个程序锁定或正在使用。" },
    { Cause::Corrupt, "文件已损坏。" },
    { Cause::NotADatabase, "不是本程序的数据库文件。" },
    { Cause::WrongPassword, "数据库密码不对，或不是本程序的数据库文件。" },
    { Cause::CannotOpen, "无法打开文件。" },
    { Cause::NotFound, "找不到文件或文件夹。" },
    { Cause::AccessDenied, "没有访问该文件或文件夹的权限。" },
    { Cause::TooLarge, "文件超过了系统允许的大小。" },
    { Cause::DeviceError, "读写磁盘时出错。" },
    { Cause::OutOfMemory, "内存不足。" },
    { Cause::Conflict, "这条记录在读出后已被别处修改或删除。" },
    { Cause::ConnectionLost, "与数据库服务器的连接断开了。" },
};

struct ErrnoEntry {
    int error;
    Cause cause;
};

const ErrnoEntry kErrnos[] = {
    { ENOSPC, Cause::DiskFull },
#ifdef EDQUOT
    { EDQUOT, Cause::DiskFull },
#endif
    { EFBIG, Cause::TooLarge },
    { EROFS, Cause::ReadOnly },
    { EACCES, Cause::AccessDenied },
    { EPERM, Cause::AccessDenied },
    { EBUSY, Cause::InUse },
#ifdef ETXTBSY
    { ETXTBSY, Cause::InUse },
#endif
    { EAGAIN, Cause::InUse },
    { ENOENT, Cause::NotFound },
    { ENOTDIR, Cause::NotFound },
    { EISDIR, Cause::CannotOpen },
    { EEXIST, Cause::CannotOpen },
    { EIO, Cause::DeviceError },
    { ENOMEM, Cause::OutOfMemory },
};

} // namespace

QString causeText(Cause cause)
{
    for (const CauseEntry &entry : kCauses) {
        if (entry.cause == cause)
            return QString::fromUtf8(entry.text);
    }
    return QString::fromUtf8(kCauses[0].text);
}

Cause causeOfErrno(int error)
{
    for (const ErrnoEntry &entry : kErrnos) {
        if (entry.error == error)
            return entry.cause;
    }
    return Cause::Unknown;
}

Cause causeOfFileError(QFileDevice::FileError kind, int error)
{
    const Cause byErrno = causeOfErrno(error);
    if (byErrno != Cause::Unknown)
        return byErrno;
    switch (kind) {
    case QFileDevice::ReadError:
    case QFileDevice::WriteError:
    case QFileDevice::FatalError:
    case QFileDevice::ResizeError:
    case QFileDevice::RenameError:
    case QFileDevice::CopyError:
        return Cause::DeviceError;
    case QFileDevice::OpenError:
    case QFileDevice::ResourceError:
        return Cause::CannotOpen;
    case QFileDevice::PermissionsError:
        return Cause::AccessDenied;
    case QFileDevice::RemoveError:
        return Cause::InUse;
    default:
        return Cause::Unknown;
    }
}

QString withCause(const QString &message, Cause cause)
{
    return message + QLatin1Char('\n') + causeText(cause);
}

} // namespace dagl
