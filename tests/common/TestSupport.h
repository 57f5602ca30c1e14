#pragma once

#include "Connection.h"
#include "Ui.h"

#include <QTemporaryDir>
#include <QVariant>
#include <QVector>

#include <memory>

namespace dagl::test {

// The seam as tests use it: records every box shown and answers with the queued answers
// (OK or Yes when none is queued).
class FakeUi : public Ui
{
public:
    struct Shown
    {
        QString text;
        QString caption;
        Icon icon;
        Buttons buttons;
    };

    Answer messageBox(const QString &text, const QString &caption, Icon icon, Buttons buttons) override;
    QString openFileName(const QString &, const QString &, const QString &filter) override
    {
        openFilters << filter;
        return nextPath();
    }
    QString existingFolder(const QString &, const QString &) override { return nextPath(); }
    // Answers with the next queued SaveAnswer; cancels when none is queued.
    bool saveFile(const QString &caption, const QString &folder, const QString &filter, QString &fileName,
                  int &filterIndex) override;
    // Records the title and the page count of the report, and lets a test draw it.
    void printPreview(QWidget *, const QString &title, PagedReport &report) override;
    bool shellOpen(const QString &path) override
    {
        opened << path;
        return true;
    }
    QStringList printers() override { return printerNames; }
    QStringList inputMethods() override { return inputMethodNames; }
    void switchInputMethod(QWidget *, const QString &name) override { switchedTo << name; }
    void requestQuit() override { ++quitRequests; }
    // Records the box; `onReconnect` runs first (a test starts its server again there), then
    // each try that fails takes the next queued answer: Ok (重试) tries again after
    // `onRetry`, anything else (and no answer queued) is 取消.
    bool reconnect(const QString &text, const std::function<QString()> &attempt) override;
    std::function<void()> onReconnect;
    std::function<void()> onRetry; // before each try after the first
    QStringList reconnectFailures; // why each failed try failed
    // Records each panel's label and steps; stops the work at step `stopProgressAt` (from 1).
    std::unique_ptr<Progress> progress(const QString &label) override;

    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }
    QStringList texts() const;

    QVector<Shown> shown;
    QVector<Answer> answers;
    QStringList paths;
    QStringList openFilters; // the filter of each open-file dialog, in order
    QStringList opened;
    QStringList printerNames;
    QStringList inputMethodNames{QStringLiteral("中文 (简体) - 全拼"), QStringLiteral("英语 (美国)")};
    QStringList switchedTo;
    int quitRequests = 0;
    // Boxes come and go as under a window manager: the active window is deactivated while
    // a box is up and activated again only once control is back in the event loop, so
    // that the program's own moves right after the box (the focus) meet an inactive window.
    // The offscreen platform would activate it at once.
    bool windowManagerOrder = false;

    struct SaveCall
    {
        QString caption;
        QString folder;
        QString filter;
        QString fileName;
        int filterIndex;
    };
    struct SaveAnswer
    {
        bool accept = true;
        QString fileName;    // empty: keep the name the dialog was given
        int filterIndex = 0; // 0: keep the entry the dialog was given
    };
    QVector<SaveCall> saveCalls;
    QVector<SaveAnswer> saveAnswers;
    QStringList previews;
    QStringList progressLabels;
    int progressSteps = 0;
    int stopProgressAt = 0; // 0: never
    QVector<int> previewPages; // pages of each report previewed, on an A4 page turned as the report asks
    // Called with each report previewed, while the preview is open.
    std::function<void(PagedReport &)> onPreview;

private:
    QString nextPath() { return paths.isEmpty() ? QString() : paths.takeFirst(); }
};

class PgCluster;
// The one cluster of a test process that runs against a server, started when first needed.
PgCluster &cluster();

// Whether this run's catalogues are on a PostgreSQL server (DAGL_TEST_SERVER=1, unless
// DAGL_NO_POSTGRES=1): the same suites then run against a throwaway cluster.
bool onServer();

// In a test of what only the catalogue file has (its engine's own calls, its file): skipped
// when the run is on a server.
#define DAGL_FILE_ONLY()                                                                                             \
    do {                                                                                                             \
        if (dagl::test::onServer())                                                                                  \
            QSKIP("a test of the catalogue file itself");                                                            \
    } while (false)

// In a test of what only a server does (checking rows written by other workstations):
// skipped when the run is on the file.
#define DAGL_SERVER_ONLY()                                                                                           \
    do {                                                                                                             \
        if (!dagl::test::onServer())                                                                                 \
            QSKIP("a test of the catalogue on a server");                                                            \
    } while (false)

// A program folder in a temporary directory with a new database in data/kdmx.mdb, or, when
// the run is on a server, a new catalogue database on the cluster that myini.ini names.
class ProgramFolderFixture
{
public:
    // `under`: the folder to make it in (a small disk), else the system's temporary folder.
    explicit ProgramFolderFixture(bool withDatabase = true, const QString &under = {});
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString databasePath() const { return path() + QStringLiteral("data/kdmx.mdb"); }

    // A connection of its own to the folder's database, for preparing and checking rows.
    Connection &db();
    QVariant scalar(const QString &sql);
    int count(const QString &table, const QString &where = {});
    void exec(const QString &sql);

    // Makes the catalogue refuse every `verb` (insert or delete) of a row of 文件目录, or
    // only of those whose `column` is `value`, with `message`: a trigger on either server.
    void refuse(const QString &verb, const QString &message, const QString &column = {}, const QString &value = {});

    // The server of the folder's catalogue; no host when it is the file.
    const PgSettings &server() const { return m_server; }

private:
    QTemporaryDir m_dir;
    PgSettings m_server;
    std::unique_ptr<Connection> m_connection;
};

// A folder whose disk runs full on demand. As root a small tmpfs is mounted there; where
// mounting is not allowed the process's file size limit stands in for it (SIGXFSZ ignored),
// so that writes past it fail with EFBIG, as the last write to a full disk does.
class SmallDisk {
public:
    explicit SmallDisk(qint64 size = 16 << 20);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    // From now on about `room` more bytes fit: the tmpfs is filled up to that, or no file
    // may grow past `room` bytes.
    void fill(qint64 room = 0);
    // Room again.
    void release();
    // The causes a write that did not fit may be given.
    QStringList causeTexts() const;

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    bool m_limited = false;
    QString m_filler;
};

// A read-only view of `source` at `target` (a read-only bind mount). False where the test
// may not mount; undone by unmountReadOnly.
bool mountReadOnly(const QString &source, const QString &target);
void unmountReadOnly(const QString &target);

// Types text into the focused control as the operator would: plain keys for ASCII, and
// what an input method commits for Chinese.
void type(QWidget *control, const QString &text);

// Opens another file of the program's database (a backup copy) with the database password.
std::unique_ptr<Connection> openCopy(const QString &path);
// The row count of a table of an open connection.
int rowCount(Connection &connection, const QString &table);

// The visible top-level window with that component name, or nullptr.
QWidget *topLevel(const QString &name);

// Pins the formats and locale tests rely on.
void pinLocale();

} // namespace dagl::test
