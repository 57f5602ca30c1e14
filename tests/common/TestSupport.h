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
    // Records the title and keeps the render function, so a test can draw the document.
    void printPreview(QWidget *, const QString &title,
                      const std::function<void(QPagedPaintDevice &)> &render) override
    {
        previews << title;
        lastRender = render;
    }
    bool shellOpen(const QString &path) override
    {
        opened << path;
        return true;
    }
    QStringList printers() override { return printerNames; }
    QStringList inputMethods() override { return inputMethodNames; }
    void switchInputMethod(QWidget *, const QString &name) override { switchedTo << name; }
    void requestQuit() override { ++quitRequests; }

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
    std::function<void(QPagedPaintDevice &)> lastRender;

private:
    QString nextPath() { return paths.isEmpty() ? QString() : paths.takeFirst(); }
};

// A program folder in a temporary directory with a new database in data/kdmx.mdb.
class ProgramFolderFixture
{
public:
    explicit ProgramFolderFixture(bool withDatabase = true);
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString databasePath() const { return path() + QStringLiteral("data/kdmx.mdb"); }

    // A connection of its own to the folder's database, for preparing and checking rows.
    Connection &db();
    QVariant scalar(const QString &sql);
    int count(const QString &table, const QString &where = {});
    void exec(const QString &sql);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Connection> m_connection;
};

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
