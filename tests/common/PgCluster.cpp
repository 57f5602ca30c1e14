#include "PgCluster.h"

#include "Error.h"

#include <QFile>
#include <QProcess>

namespace dagl::test {

namespace {

QString script()
{
    return QStringLiteral(DAGL_SOURCE_DIR "/scripts/pg-cluster.sh");
}

} // namespace

bool PgCluster::skipWanted()
{
    return qEnvironmentVariable("DAGL_NO_POSTGRES") == QLatin1String("1");
}

PgCluster::PgCluster()
{
    if (skipWanted())
        return;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot make a temporary folder");
        return;
    }
    QProcess start;
    start.start(QStringLiteral("bash"), {script(), QStringLiteral("start"), m_dir.path()});
    if (!start.waitForFinished(180000) || start.exitStatus() != QProcess::NormalExit || start.exitCode() != 0) {
        m_error = QString::fromLocal8Bit(start.readAllStandardError()).trimmed();
        if (m_error.isEmpty())
            m_error = start.errorString();
        if (start.exitCode() == 4)
            m_error += QStringLiteral(" (install postgresql-15, or set DAGL_NO_POSTGRES=1 to skip these tests)");
        return;
    }
    QFile port(m_dir.path() + QStringLiteral("/port"));
    if (port.open(QIODevice::ReadOnly))
        m_port = port.readAll().trimmed().toInt();
    if (m_port <= 0)
        m_error = QStringLiteral("the cluster started without saying its port");
}

namespace {

bool runScript(const QString &mode, const QString &folder, QString *error)
{
    QProcess run;
    run.start(QStringLiteral("bash"), {script(), mode, folder});
    if (!run.waitForFinished(180000) || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0) {
        if (error)
            *error = QString::fromLocal8Bit(run.readAllStandardError()).trimmed();
        return false;
    }
    return true;
}

} // namespace

bool PgCluster::stop()
{
    return m_port > 0 && runScript(QStringLiteral("stop"), m_dir.path(), &m_error);
}

bool PgCluster::start()
{
    if (m_port <= 0 || !runScript(QStringLiteral("start"), m_dir.path(), &m_error))
        return false;
    QFile port(m_dir.path() + QStringLiteral("/port"));
    return port.open(QIODevice::ReadOnly) && port.readAll().trimmed().toInt() == m_port;
}

PgCluster::~PgCluster()
{
    if (m_port <= 0)
        return;
    QProcess stop;
    stop.start(QStringLiteral("bash"), {script(), QStringLiteral("stop"), m_dir.path()});
    stop.waitForFinished(60000);
}

PgSettings PgCluster::settings(const QString &database) const
{
    PgSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = m_port;
    s.database = database;
    s.user = QStringLiteral("dagl");
    s.passFile = passFile();
    return s;
}

PgSettings PgCluster::freshDatabase(const QString &name)
{
    PgConnection admin(settings(QStringLiteral("postgres")));
    admin.open();
    admin.executeNative(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    admin.executeNative(QStringLiteral("CREATE DATABASE %1").arg(name));
    return settings(name);
}

} // namespace dagl::test
