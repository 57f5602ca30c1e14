#include "PgMaintenance.h"

#include "Error.h"
#include "PgConnection.h"
#include "PgSchema.h"

#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace dagl::PgMaintenance {

namespace {

struct Run {
    bool started = false;
    int exitCode = -1;
    QString output;
    QString errors;
};

int serverMajor(PgConnection &connection)
{
    return PQserverVersion(connection.handle()) / 10000;
}

// The major version a tool says it is of ("pg_dump (PostgreSQL) 15.18 ..."); 0 when unknown.
int toolMajor(const QString &path)
{
    QProcess process;
    process.start(path, { QStringLiteral("--version") });
    if (!process.waitForFinished(10000))
        return 0;
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\)\\s+(\\d+)"))
                                              .match(QString::fromLocal8Bit(process.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// The connection's settings as the environment of a server tool: what the program's own
// connection gives libpq explicitly, the rest inherited as the program has it. Never a
// password: the tool reads the same password or service file.
QProcessEnvironment toolEnvironment(const PgConnection &connection, const QString &program)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const PgSettings::Parameter &parameter : connection.settings().parameters())
        env.insert(QString::fromLatin1(parameter.environment), parameter.value);
    env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    env.insert(QStringLiteral("PGAPPNAME"), program);
    // The tool's words in English, which failureText() reads.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.remove(QStringLiteral("LANGUAGE"));
    return env;
}

Run runTool(const QString &path, const QStringList &arguments, const QProcessEnvironment &env)
{
    Run run;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(path, arguments);
    run.started = process.waitForStarted(30000);
    if (!run.started) {
        run.errors = process.errorString();
        return run;
    }
    process.closeWriteChannel();
    process.waitForFinished(-1);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAllStandardOutput());
    run.errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return run;
}

// Why a server tool failed, from its own words; the fallback when none is recognised.
QString failureText(const QString &errors, const QString &fallback)
{
    struct Known {
        const char *words;
        const char *text;
    };
    static const Known known[] = {
        { "no space left on device", "磁盘已满，放不下备份文件。" },
        { "disk quota exceeded", "磁盘空间配额已用完，放不下备份文件。" },
        { "could not open output file", "无法在所选位置写入文件（文件夹不存在或没有写入权限）。" },
        { "could not write to output file", "写入文件时出错，磁盘可能已满或已损坏。" },
        { "could not open input file", "无法打开所选文件。" },
        { "password authentication failed", "数据库服务器拒绝了密码，请检查密码文件里这台服务器的密码。" },
        { "no password supplied", "数据库服务器要求密码，但密码文件里没有这台服务器的密码。" },
        { "server version mismatch", "备份程序与数据库服务器的版本不符。" },
        { "lock timeout", "数据正被另一台工作站使用，请稍后再试。" },
        { "deadlock detected", "数据正被另一台工作站使用，请稍后再试。" },
        { "permission denied", "数据库服务器拒绝了这个操作：权限不足。" },
        { "must be owner", "数据库服务器拒绝了这个操作：权限不足。" },
        { "connection refused", "无法连接到数据库服务器：服务器没有启动，或地址、端口不对，或网络不通。" },
        { "could not translate host name", "无法连接到数据库服务器：服务器没有启动，或地址、端口不对，或网络不通。" },
        { "timeout expired", "无法连接到数据库服务器：服务器没有启动，或地址、端口不对，或网络不通。" },
        { "server closed the connection", "与数据库服务器的连接断开了。" },
        { "connection to server", "无法连接到数据库服务器：服务器没有启动，或地址、端口不对，或网络不通。" },
    };
    const QString lower = errors.toLower();
    for (const Known &k : known) {
        if (lower.contains(QLatin1String(k.words)))
            return QString::fromUtf8(k.text);
    }
    return fallback;
}

// A dump the tool read part of and then found damaged.
bool damagedDump(const QString &errors)
{
    static const char *const words[] = {
        "unexpected end of file",
        "could not read from input file",
        "corrupt",
        "did not find magic string",
        "does not appear to be a valid archive",
        "could not uncompress data",
        "unsupported version",
        "bad offset",
        "could not find block",
    };
    const QString lower = errors.toLower();
    for (const char *w : words) {
        if (lower.contains(QLatin1String(w)))
            return true;
    }
    return false;
}

// A failed file operation's cause in the operator's words. (The platform's cause texts
// live with the widgets; this library keeps to Qt Core.)
QString systemText(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满。");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限。");
    case EROFS:
        return QStringLiteral("磁盘是只读的。");
    case ENOENT:
        return QStringLiteral("文件夹不存在。");
    case EISDIR:
        return QStringLiteral("同名的是一个文件夹。");
    case EIO:
        return QStringLiteral("磁盘读写出错。");
    default:
        return QStringLiteral("系统错误：%1").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

// Renames over an existing file in one step, as rename(2) does; QFile::rename will not.
bool replaceFile(const QString &from, const QString &to, QString *why)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *why = systemText(errno);
    return false;
}

} // namespace

QString toolPath(PgConnection &connection, const QString &tool, const QString &folder)
{
    const int major = serverMajor(connection);
    if (!folder.isEmpty()) {
        const QFileInfo given(QDir(folder).filePath(tool));
        if (given.isExecutable())
            return given.absoluteFilePath();
    } else {
        const QFileInfo own(QStringLiteral("/usr/lib/postgresql/%1/bin/%2").arg(major).arg(tool));
        if (own.isExecutable())
            return own.absoluteFilePath();
        const QString found = QStandardPaths::findExecutable(tool);
        if (!found.isEmpty() && toolMajor(found) >= major)
            return found;
    }
    throw Error(
        QStringLiteral("找不到 PostgreSQL %1 的程序 %2（Debian 软件包 postgresql-client-%1）。").arg(major).arg(tool),
        Cause::NotFound);
}

QString backup(PgConnection &connection, const QString &target, const QString &toolFolder)
{
    const QFileInfo info(target);
    const QDir folder = info.absoluteDir();
    if (!folder.exists())
        return QStringLiteral("备份失败：文件夹“%1”不存在。").arg(QDir::toNativeSeparators(folder.path()));
    QString tool;
    try {
        tool = toolPath(connection, QStringLiteral("pg_dump"), toolFolder);
    } catch (const Error &error) {
        return QStringLiteral("备份失败：") + error.message();
    }
    // The temporary name holds the place until the dump is whole; removed with the object
    // whatever happens before the rename.
    QTemporaryFile partial(folder.filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".XXXXXX.part")));
    errno = 0;
    if (!partial.open()) {
        const int error = errno;
        return QStringLiteral("备份失败：无法在文件夹“%1”里写入文件。%2")
            .arg(QDir::toNativeSeparators(folder.path()), error ? systemText(error) : partial.errorString());
    }
    partial.close();
    const Run run = runTool(tool, { QStringLiteral("--format=custom"), QStringLiteral("--file"), partial.fileName() },
        toolEnvironment(connection, QStringLiteral("dagl-backup")));
    if (!run.started)
        return QStringLiteral("备份失败：备份程序 %1 无法运行。").arg(tool);
    if (run.exitCode != 0)
        return QStringLiteral("备份失败：")
            + failureText(run.errors, QStringLiteral("备份程序报告了错误：%1").arg(run.errors.left(300)));
    QFile written(partial.fileName());
    if (!written.open(QIODevice::ReadOnly) || written.read(5) != QByteArrayLiteral("PGDMP"))
        return QStringLiteral("备份失败：备份程序没有写出完整的备份文件。");
    written.close();
    QString why;
    if (!replaceFile(partial.fileName(), info.absoluteFilePath(), &why))
        return QStringLiteral("备份失败：无法写成文件“%1”。%2")
            .arg(QDir::toNativeSeparators(info.absoluteFilePath()), why);
    partial.setAutoRemove(false);
    return {};
}

QStringList otherConnections(PgConnection &connection)
{
    QStringList others;
    PgRows rows(connection,
        QStringLiteral("SELECT coalesce(host(client_addr), '本机'), coalesce(nullif(application_name, ''), '?') "
                       "FROM pg_stat_activity WHERE datname = current_database() "
                       "AND pid <> pg_backend_pid() AND backend_type = 'client backend' ORDER BY backend_start"),
        {}, true);
    while (rows.next())
        others << rows.value(0).toString() + QLatin1Char(' ') + rows.value(1).toString();
    return others;
}

RestoreResult restore(PgConnection &connection, const QString &dump, const QStringList &requiredTables,
    const QString &keepReplacedAs, const QString &toolFolder)
{
    const QString name = QDir::toNativeSeparators(dump);
    const QString notOurs
        = QStringLiteral("文件“%1”不是本系统在服务器上做的备份，或已损坏，未恢复。数据库保持原样。").arg(name);
    if (!QFileInfo(dump).isFile())
        return { RestoreOutcome::NotADump, QStringLiteral("找不到备份文件“%1”，未恢复。").arg(name) };
    if (connection.inTransaction())
        return { RestoreOutcome::Failed, QStringLiteral("还有未完成的数据库操作，未恢复。") };
    try {
        const QString tool = toolPath(connection, QStringLiteral("pg_restore"), toolFolder);
        const QProcessEnvironment env = toolEnvironment(connection, QStringLiteral("dagl-restore"));

        // The dump's table of contents: a file pg_restore cannot list is no dump.
        const Run list = runTool(tool, { QStringLiteral("--list"), dump }, env);
        if (!list.started)
            return { RestoreOutcome::Failed, QStringLiteral("恢复失败：恢复程序 %1 无法运行。").arg(tool) };
        if (list.exitCode != 0)
            return { RestoreOutcome::NotADump, notOurs };
        // "id; oid oid TABLE schema name owner"
        static const QRegularExpression tableLine(
            QStringLiteral("^\\d+; \\d+ \\d+ TABLE \\S+ (\\S+) "), QRegularExpression::MultilineOption);
        QSet<QString> inDump;
        for (auto it = tableLine.globalMatch(list.output); it.hasNext();)
            inDump.insert(it.next().captured(1).toLower());
        const QStringList required = requiredTables.isEmpty() ? connection.tableNames() : requiredTables;
        for (const QString &table : required) {
            if (!inDump.contains(table.toLower()))
                return { RestoreOutcome::NotADump, notOurs };
        }

        // A workstation that has just quit (or a backup just made) leaves its server
        // process for a moment: a short wait before refusing.
        QStringList others = otherConnections(connection);
        for (int i = 0; i < 20 && !others.isEmpty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            others = otherConnections(connection);
        }
        if (!others.isEmpty())
            return { RestoreOutcome::InUse,
                QStringLiteral("还有 %1 个其他连接正在使用服务器上的数据库（%2），不能恢复。"
                               "请先让其他工作站退出本系统，再恢复。")
                    .arg(others.size())
                    .arg(others.mid(0, 5).join(QStringLiteral("；"))) };

        if (!keepReplacedAs.isEmpty()) {
            const QString failed = backup(connection, keepReplacedAs, toolFolder);
            if (!failed.isEmpty())
                return { RestoreOutcome::Failed, QStringLiteral("恢复前保存当前数据库失败，未恢复。") + failed };
        }

        QProcessEnvironment restoreEnv = env;
        // A table another workstation holds makes the restore fail and roll back, not wait.
        restoreEnv.insert(QStringLiteral("PGOPTIONS"), QStringLiteral("-c lock_timeout=30s"));
        const Run run = runTool(tool,
            { QStringLiteral("--single-transaction"), QStringLiteral("--clean"), QStringLiteral("--if-exists"),
                QStringLiteral("--no-owner"), QStringLiteral("--dbname"),
                connection.settings().database.isEmpty() ? QString::fromUtf8(PQdb(connection.handle()))
                                                         : connection.settings().database,
                dump },
            restoreEnv);
        connection.forgetColumns();
        if (run.exitCode == 0)
            return { RestoreOutcome::Restored, {} };
        if (damagedDump(run.errors))
            return { RestoreOutcome::NotADump, notOurs };
        return { RestoreOutcome::Failed,
            QStringLiteral("恢复失败，数据库保持原样：")
                + failureText(run.errors, QStringLiteral("恢复程序报告了错误：%1").arg(run.errors.left(300))) };
    } catch (const Error &error) {
        return { RestoreOutcome::Failed, QStringLiteral("恢复失败，数据库保持原样：") + error.message() };
    }
}

QString compact(PgConnection &connection, const QStringList &tables)
{
    if (connection.inTransaction())
        return QStringLiteral("还有未完成的数据库操作，未整理。");
    try {
        const QStringList names = tables.isEmpty() ? connection.tableNames() : tables;
        QStringList quotedNames;
        for (const QString &table : names)
            quotedNames << PgSchema::quotedName(table.toLower());
        // The server skips, with a mere warning, a table the account does not own.
        const QVariant notOwned = connection.scalarNative(
            QStringLiteral("SELECT string_agg(c.relname, '、' ORDER BY c.relname) FROM pg_class c JOIN pg_namespace n ON n.oid = "
                           "c.relnamespace WHERE n.nspname = current_schema() AND c.relname = ANY($1::text[]) "
                           "AND NOT pg_has_role(c.relowner, 'USAGE')"),
            {QStringLiteral("{") + quotedNames.join(QLatin1Char(',')) + QLatin1Char('}')});
        if (!notOwned.toString().isEmpty())
            return QStringLiteral("整理数据库失败：账户“%1”不是表 %2 的所有者，只有表的所有者（建表的管理员账户）才能整理。")
                .arg(connection.scalarNative(QStringLiteral("SELECT current_user")).toString(), notOwned.toString());
        if (!quotedNames.isEmpty())
            connection.executeNative(QStringLiteral("VACUUM (ANALYZE) ") + quotedNames.join(QStringLiteral(", ")));
    } catch (const Error &error) {
        return QStringLiteral("整理数据库失败：") + error.message();
    }
    return {};
}

QString exitCopySkippedText()
{
    return QStringLiteral("服务器上的数据库不在退出时复制，请使用备份。");
}

} // namespace dagl::PgMaintenance
