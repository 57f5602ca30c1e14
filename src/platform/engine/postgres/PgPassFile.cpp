#include "PgPassFile.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dagl::PgPassFile {

namespace {

// One field of a line against its wanted value; returns where the next field starts, or -1.
int matchField(const QByteArray &line, int at, const QByteArray &wanted)
{
    if (line.mid(at, 2) == "*:")
        return at + 2;
    int w = 0;
    bool escaped = false;
    for (int i = at; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && !escaped) {
            escaped = true;
            if (++i >= line.size())
                return -1;
            c = line[i];
        }
        if (c == ':' && !escaped && w == wanted.size())
            return i + 1;
        escaped = false;
        if (w >= wanted.size() || c != wanted[w])
            return -1;
        ++w;
    }
    return -1;
}

QString escaped(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char(':'), QStringLiteral("\\:"));
    return text;
}

} // namespace

QString Key::lineFor() const
{
    return QStringList { escaped(host), escaped(port), escaped(database), escaped(user), QStringLiteral("密码") }.join(
        QLatin1Char(':'));
}

Result look(const QString &path, const Key &key)
{
    Result result;
    result.path = path;
    if (path.isEmpty())
        return result;
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) != 0) {
        result.finding = Finding::Missing;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.finding = Finding::NotPlainFile;
        return result;
    }
    if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        result.finding = Finding::TooOpen;
        return result;
    }
    if (::access(native.constData(), R_OK) != 0) {
        result.finding = Finding::Unreadable;
        return result;
    }
#endif
    QFile file(path);
    if (!file.exists()) {
        result.finding = Finding::Missing;
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.finding = Finding::Unreadable;
        return result;
    }
    const QByteArray fields[] = { key.host.toUtf8(), key.port.toUtf8(), key.database.toUtf8(), key.user.toUtf8() };
    int number = 0;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        ++number;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        int at = 0;
        for (const QByteArray &wanted : fields) {
            at = matchField(line, at, wanted);
            if (at < 0)
                break;
        }
        if (at < 0)
            continue;
        QByteArray password;
        for (int i = at; i < line.size() && line[i] != ':'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            password += line[i];
        }
        result.finding = Finding::Found;
        result.line = number;
        result.password = QString::fromUtf8(password);
        return result;
    }
    result.finding = Finding::NoLine;
    return result;
}

QString problemText(const Result &result, const Key &key)
{
    const QString &path = result.path;
    switch (result.finding) {
    case Finding::Found:
        return {};
    case Finding::NoPath:
        return QStringLiteral("没有密码文件：没有设置 passfile 或 PGPASSFILE，也找不到主目录。");
    case Finding::Missing:
        return QStringLiteral("密码文件 %1 不存在。").arg(path);
    case Finding::NotPlainFile:
        return QStringLiteral("密码文件 %1 不是普通文件。").arg(path);
    case Finding::TooOpen:
        return QStringLiteral("密码文件 %1 权限过宽（别的用户也能读写），没有被使用。请执行 chmod 600 %1").arg(path);
    case Finding::Unreadable:
        return QStringLiteral("密码文件 %1 不能读取（没有读的权限）。").arg(path);
    case Finding::NoLine:
        return QStringLiteral("密码文件 %1 里没有这台服务器的密码：需要一行“%2”。").arg(path, key.lineFor());
    }
    return {};
}

} // namespace dagl::PgPassFile
