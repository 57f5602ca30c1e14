#pragma once

#include "PgConnection.h"

#include <QString>
#include <QTemporaryDir>

namespace dagl::test {

// A throwaway PostgreSQL 15 cluster for one test run: made in a temporary folder, on
// 127.0.0.1 on a free port, run as the user "postgres" when the tests run as root, stopped
// and removed with the object. The user "dagl" reaches it through the password file
// passFile(). Made by scripts/pg-cluster.sh, the script `scripts/dagl.sh pg` uses.
class PgCluster
{
public:
    // Starts the cluster unless DAGL_NO_POSTGRES=1; see isRunning() and error().
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    bool isRunning() const { return m_port > 0; }
    // Why the cluster is not running, for the failure message.
    const QString &error() const { return m_error; }
    // Tests skip instead of failing only when asked to.
    static bool skipWanted();

    int port() const { return m_port; }
    QString folder() const { return m_dir.path(); }
    QString passFile() const { return m_dir.path() + QStringLiteral("/pgpass"); }
    PgSettings settings(const QString &database = QStringLiteral("dagl")) const;
    // An empty database of that name, made anew (an old one of the name is dropped first).
    PgSettings freshDatabase(const QString &name);
    // Stops the server (its connections break) and starts it again on the same port, as an
    // administrator's restart does. True when it did.
    bool stop();
    bool start();

private:
    QTemporaryDir m_dir;
    int m_port = 0;
    QString m_error;
};

} // namespace dagl::test

// In initTestCase: skips the suite when DAGL_NO_POSTGRES=1, fails it with the reason when
// the cluster did not start, so that a machine without the server never passes silently.
#define DAGL_REQUIRE_POSTGRES(cluster)                                                                               \
    do {                                                                                                             \
        if (dagl::test::PgCluster::skipWanted())                                                                     \
            QSKIP("DAGL_NO_POSTGRES=1: the PostgreSQL tests are skipped");                                           \
        if (!(cluster).isRunning())                                                                                  \
            QFAIL(qPrintable(QStringLiteral("no PostgreSQL cluster for the tests: ") + (cluster).error()));        \
    } while (false)
