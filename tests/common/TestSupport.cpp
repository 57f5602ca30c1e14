#include "TestSupport.h"

#include "Dataset.h"
#include "DesktopConventions.h"
#include "Login.h"
#include "Schema.h"
#include "SingleWindow.h"
#include "TDataModule5.h"

#include <QInputMethodEvent>
#include <QLocale>
#include <QTest>

namespace dagl::test {

namespace {
// Windows under test behave as in the running program (Enter on buttons, selected boxes).
void installConventions()
{
    DesktopConventions::install();
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(installConventions)

Ui::Answer FakeUi::messageBox(const QString &text, const QString &caption, Icon icon, Buttons buttons)
{
    shown.push_back({text, caption, icon, buttons});
    if (!answers.isEmpty())
        return answers.takeFirst();
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
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

ProgramFolderFixture::ProgramFolderFixture(bool withDatabase)
{
    if (withDatabase) {
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
        m_connection->open();
    }
    return *m_connection;
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
