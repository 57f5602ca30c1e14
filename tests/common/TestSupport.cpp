#include "TestSupport.h"

#include "CatalogueLocation.h"
#include "Cause.h"
#include "Dataset.h"
#include "DesktopConventions.h"
#include "IniFile.h"
#include "Login.h"
#include "PagedReport.h"
#include "PgCluster.h"
#include "Schema.h"
#include "ServerCatalogue.h"
#include "SingleWindow.h"
#include "TDataModule5.h"

#include <QApplication>
#include <QDir>
#include <QPageLayout>
#include <QFile>
#include <QInputMethodEvent>
#include <QLocale>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace dagl::test {

namespace {
// Windows under test behave as in the running program (Enter on buttons, selected boxes).
void installConventions()
{
    DesktopConventions::install();
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(installConventions)

std::unique_ptr<Ui::Progress> FakeUi::progress(const QString &label)
{
    struct Recorded : Progress {
        explicit Recorded(FakeUi &ui)
            : m_ui(ui)
        {
        }
        bool step(qint64, qint64) override { return ++m_ui.progressSteps != m_ui.stopProgressAt; }
        FakeUi &m_ui;
    };
    progressLabels << label;
    return std::make_unique<Recorded>(*this);
}

void FakeUi::printPreview(QWidget *, const QString &title, PagedReport &report)
{
    previews << title;
    const QPageLayout a4(QPageSize(QPageSize::A4), report.orientation(), report.margins(), QPageLayout::Millimeter);
    previewPages << report.layOutFor(a4);
    if (onPreview)
        onPreview(report);
}

Ui::Answer FakeUi::messageBox(const QString &text, const QString &caption, Icon icon, Buttons buttons)
{
    shown.push_back({text, caption, icon, buttons});
    if (windowManagerOrder) {
        const QPointer<QWidget> was = QApplication::activeWindow();
        QApplication::setActiveWindow(nullptr); // the box is up
        QTimer::singleShot(0, qApp, [was] {
            if (was)
                QApplication::setActiveWindow(was);
        });
    }
    if (!answers.isEmpty())
        return answers.takeFirst();
    return buttons == Buttons::YesNo || buttons == Buttons::YesNoDefaultNo ? Answer::Yes : Answer::Ok;
}

bool FakeUi::reconnect(const QString &text, const std::function<QString()> &attempt)
{
    shown.push_back({text, applicationTitle(), Icon::Warning, Buttons::OkCancel});
    if (onReconnect)
        onReconnect();
    for (;;) {
        const QString why = attempt();
        if (why.isEmpty())
            return true;
        reconnectFailures << why;
        if (answers.isEmpty() || answers.takeFirst() != Answer::Ok)
            return false;
        if (onRetry)
            onRetry();
    }
}

bool FakeUi::saveFile(const QString &caption, const QString &folder, const QString &filter, QString &fileName,
                      int &filterIndex)
{
    saveCalls.push_back({caption, folder, filter, fileName, filterIndex});
    if (saveAnswers.isEmpty())
        return false;
    const SaveAnswer answer = saveAnswers.takeFirst();
    if (!answer.accept)
        return false;
    if (!answer.fileName.isEmpty())
        fileName = answer.fileName;
    if (answer.filterIndex != 0)
        filterIndex = answer.filterIndex;
    return true;
}

QStringList FakeUi::texts() const
{
    QStringList all;
    for (const Shown &s : shown)
        all << s.text;
    return all;
}

PgCluster &cluster()
{
    static PgCluster running;
    if (!running.isRunning())
        qFatal("no PostgreSQL cluster for the tests: %s", qPrintable(running.error()));
    return running;
}

bool onServer()
{
    static const bool server = qEnvironmentVariableIntValue("DAGL_TEST_SERVER") == 1 && !PgCluster::skipWanted();
    return server;
}

ProgramFolderFixture::ProgramFolderFixture(bool withDatabase, const QString &under)
    : m_dir(under.isEmpty() ? QDir::tempPath() + QStringLiteral("/dagl-XXXXXX") : under + QStringLiteral("dagl-XXXXXX"))
{
    if (withDatabase && onServer()) {
        // A new database of its own on the cluster, named in the folder's myini.ini.
        static int made = 0;
        m_server = cluster().freshDatabase(QStringLiteral("folder%1").arg(++made));
        PgConnection server(m_server);
        server.open();
        ServerCatalogue::create(server, permissionCodeList());
        CatalogueLocation location;
        location.kind = CatalogueLocation::Kind::Server;
        location.server = m_server;
        location.save(IniFile::settingsOf(path()));
    } else if (withDatabase) {
        Schema::NewDatabase spec;
        spec.path = databasePath();
        spec.rightCodes = permissionCodeList();
        Schema::create(spec);
    }
}

Connection &ProgramFolderFixture::db()
{
    if (!m_connection) {
        m_connection = std::make_unique<Connection>();
        m_connection->setConnectionString(TDataModule5::connectionStringFor(path()));
        m_connection->setServer(m_server);
        m_connection->open();
    }
    return *m_connection;
}

void ProgramFolderFixture::refuse(const QString &verb, const QString &message, const QString &column, const QString &value)
{
    const QString row = verb.compare(QLatin1String("delete"), Qt::CaseInsensitive) == 0 ? QStringLiteral("old")
                                                                                       : QStringLiteral("new");
    const QString condition
        = column.isEmpty() ? QString() : QStringLiteral("%1.%2='%3'").arg(row, column.toLower(), value);
    if (!onServer()) {
        exec(QStringLiteral("create trigger refuse_%1 before %1 on 文件目录 %2 begin select raise(abort, '%3'); end")
                 .arg(verb, condition.isEmpty() ? QString() : QStringLiteral("when ") + condition, message));
        return;
    }
    PgConnection &server = db().server();
    server.executeNative(QStringLiteral("CREATE FUNCTION refuse_%1() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN "
                                        "IF %2 THEN RAISE EXCEPTION '%3'; END IF; RETURN %4; END $f$")
                             .arg(verb, condition.isEmpty() ? QStringLiteral("true") : condition, message, row));
    server.executeNative(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON 文件目录 FOR EACH ROW EXECUTE "
                                        "FUNCTION refuse_%1()")
                             .arg(verb));
}

QVariant ProgramFolderFixture::scalar(const QString &sql)
{
    Dataset query(QStringLiteral("check"));
    query.setConnection(&db());
    query.setCommandText(sql);
    query.open();
    return query.isEmpty() ? QVariant() : query.value(0);
}

int ProgramFolderFixture::count(const QString &table, const QString &where)
{
    return scalar(QStringLiteral("select count(*) from %1 %2").arg(table, where.isEmpty() ? QString() : QStringLiteral("where ") + where)).toInt();
}

void ProgramFolderFixture::exec(const QString &sql)
{
    db().execute(sql);
}

SmallDisk::SmallDisk(qint64 size)
{
    // DAGL_TEST_NO_MOUNT tries the stand-in where mounting would work.
    const QByteArray options = "size=" + QByteArray::number(size);
    m_mounted = qEnvironmentVariableIsEmpty("DAGL_TEST_NO_MOUNT")
        && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallDisk::~SmallDisk()
{
    release();
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

void SmallDisk::fill(qint64 room)
{
    if (!m_mounted) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit { rlim_t(room), RLIM_INFINITY };
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = rlim_t(room);
        setrlimit(RLIMIT_FSIZE, &limit);
        m_limited = true;
        return;
    }
    m_filler = path() + QStringLiteral(".filler");
    QFile filler(m_filler);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(1 << 16, 'x');
    while (filler.write(block) > 0) { }
    filler.flush();
    // tmpfs counts whole pages: what is less than a page is no room.
    const qint64 pages = room / 4096;
    filler.resize(qMax<qint64>(0, filler.size() - pages * 4096));
}

void SmallDisk::release()
{
    if (m_limited) {
        rlimit limit {};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_FSIZE, &limit);
        m_limited = false;
    }
    if (!m_filler.isEmpty()) {
        QFile::remove(m_filler);
        m_filler.clear();
    }
}

QStringList SmallDisk::causeTexts() const
{
    return { causeText(Cause::DiskFull), causeText(Cause::TooLarge) };
}

bool mountReadOnly(const QString &source, const QString &target)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    if (!qEnvironmentVariableIsEmpty("DAGL_TEST_NO_MOUNT"))
        return false;
    if (::mount(from.constData(), to.constData(), nullptr, MS_BIND, nullptr) != 0)
        return false;
    if (::mount(nullptr, to.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        ::umount2(to.constData(), MNT_DETACH);
        return false;
    }
    return true;
}

void unmountReadOnly(const QString &target)
{
    ::umount2(QFile::encodeName(target).constData(), MNT_DETACH);
}

void type(QWidget *control, const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == QLatin1Char('\n')) {
            QTest::keyClick(control, Qt::Key_Return);
        } else if (ch.unicode() < 0x80) {
            QTest::keyClick(control, ch.toLatin1());
        } else {
            // A character outside the basic plane is committed whole, as an input method does.
            const int length = ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
            QInputMethodEvent commit;
            commit.setCommitString(text.mid(i, length));
            QCoreApplication::sendEvent(control, &commit);
            i += length - 1;
        }
    }
}

std::unique_ptr<Connection> openCopy(const QString &path)
{
    auto connection = std::make_unique<Connection>();
    connection->setConnectionString(QStringLiteral("Data Source=%1;Jet OLEDB:Database Password=%2")
                                        .arg(path, Schema::kDatabasePassword));
    connection->open();
    return connection;
}

int rowCount(Connection &connection, const QString &table)
{
    Dataset rows(QStringLiteral("rows"));
    rows.setConnection(&connection);
    rows.setCommandText(QStringLiteral("select * from %1").arg(table));
    rows.open();
    return rows.recordCount();
}

void pinLocale()
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
}

QWidget *topLevel(const QString &name)
{
    return findSingleWindow<QWidget>(name, true);
}

} // namespace dagl::test
