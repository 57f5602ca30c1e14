#pragma once

#include <QFileDevice>
#include <QString>

namespace dagl {

// Why a file or the database could not be used, in the terms the operator is told. The
// engine's result codes, the system's error numbers and Qt's file errors all come down to
// one of these, so that every failure reads the same whatever raised it.
enum class Cause {
    Unknown,
    DiskFull,
    ReadOnly,
    InUse,
    Corrupt,
    NotADatabase,
    WrongPassword,
    CannotOpen,
    NotFound,
    AccessDenied,
    TooLarge,
    DeviceError,
    OutOfMemory,
    Conflict, // the row was changed or deleted by another workstation or program meanwhile
    ConnectionLost, // the database server went away or the network to it broke
};

// The cause in Chinese, one short sentence.
QString causeText(Cause cause);

// The cause of a failed system call, by its errno; Unknown for 0 or a number not listed.
Cause causeOfErrno(int error);

// The cause of a failed QFile operation: its errno when the failure set one (`error`, 0
// when unknown), else the kind of failure Qt reports.
Cause causeOfFileError(QFileDevice::FileError kind, int error = 0);

// A message with its cause on the next line: the operator first reads what failed, then why.
QString withCause(const QString &message, Cause cause);

} // namespace dagl
