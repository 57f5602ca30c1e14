#include "ProgramFolder.h"

#include "Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace dagl::ProgramFolder {

QString ofExecutable()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString resolve(const QString &base, const QString &relative)
{
    QString path = base;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    const QStringList parts = QString(relative).replace(QLatin1Char('\\'), QLatin1Char('/'))
                                  .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size(); ++i) {
        QString part = parts[i];
        if (!QFileInfo::exists(path + part)) {
            const QStringList entries = QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                             | QDir::NoDotAndDotDot);
            for (const QString &entry : entries) {
                if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                    part = entry;
                    break;
                }
            }
        }
        path += part;
        if (i + 1 < parts.size() || relative.endsWith(QLatin1Char('/')) || relative.endsWith(QLatin1Char('\\')))
            path += QLatin1Char('/');
    }
    return path;
}

QString ensureFolder(const QString &base, const QString &relative)
{
    QString path = resolve(base, relative);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    if (QFileInfo(path).isDir())
        return path;
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0777) != 0 && errno != EEXIST) {
        const int reason = errno;
        const Cause cause = causeOfErrno(reason);
        const QString system = QString::fromLocal8Bit(std::strerror(reason));
        throw Error(cause == Cause::Unknown ? system : causeText(cause), cause, system);
    }
    if (!QFileInfo(path).isDir())
        throw Error(QStringLiteral("%1 不是文件夹").arg(QDir::toNativeSeparators(path)));
    return path;
}

} // namespace dagl::ProgramFolder
