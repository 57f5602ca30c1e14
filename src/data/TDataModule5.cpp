#include "TDataModule5.h"

#include "CatalogueLocation.h"
#include "Error.h"
#include "IniFile.h"
#include "ProgramFolder.h"
#include "Schema.h"
#include "Ui.h"

#include <QDebug>

namespace dagl {

namespace {
const QString kCatalogueOrder = QStringLiteral("select * from 文件目录  order by sxh");

// The data modules alive, each with its own connection: a handler's lost connection is
// one of theirs.
QVector<TDataModule5 *> &modules()
{
    static QVector<TDataModule5 *> alive;
    return alive;
}

void reconnectLost(Ui &ui, const Error &error)
{
    bool any = false;
    for (TDataModule5 *module : modules()) {
        if (!module->ADOConnection1.isLost())
            continue;
        any = true;
        if (module->reconnect())
            ui.showMessage(QString::fromUtf8(TDataModule5::kReconnected));
    }
    if (!any)
        ui.showError(error.message());
}
} // namespace

TDataModule5::TDataModule5(const QString &programFolder, Ui &ui, QObject *parent)
    : QObject(parent), Tsyyp(QStringLiteral("Tsyyp")), Twjml(QStringLiteral("Twjml")),
      Tdaly(QStringLiteral("Tdaly")), Tcxtj(QStringLiteral("Tcxtj")), TJCsj(QStringLiteral("TJCsj")),
      TYjb(QStringLiteral("TYjb")), m_programFolder(programFolder), m_ui(ui)
{
    modules().push_back(this);
    setLostConnectionHandler(&reconnectLost);
    setObjectName(QStringLiteral("DataModule5"));
    ADOConnection1.setObjectName(QStringLiteral("ADOConnection1"));
    ADOConnection1.setSearchIndex(Schema::searchIndex());
    ADOConnection1.setSortKeys(Schema::sortKeys());
    const QVector<FieldDef> catalogue = Schema::catalogueFields();
    for (Dataset *query : {&Tsyyp, &Tdaly, &Tcxtj})
        query->setCommandText(kCatalogueOrder);
    Twjml.setTableName(Schema::kCatalogueTable);
    TJCsj.setTableName(QStringLiteral("ljserver"));
    TYjb.setTableName(QStringLiteral("移交表"));
    for (Dataset *declared : {&Tsyyp, &Twjml, &Tdaly})
        declared->setDeclaredFields(catalogue);
    TJCsj.setDeclaredFields(Schema::unitColumns());
    for (Dataset *dataset : {&Tsyyp, &Twjml, &Tdaly, &Tcxtj, &TJCsj, &TYjb}) {
        dataset->setConnection(&ADOConnection1);
        // Rows a grid could not read: the window stays as it is while the connection comes back.
        connect(dataset, &Dataset::readFailed, this, [this](const QString &message) {
            if (!ADOConnection1.isLost()) {
                m_ui.showError(message);
                return;
            }
            reconnect();
        });
    }
    // A catalogue made before the number indexes gets them at its first opening; one the
    // program may not write is checked all the same, only slower.
    connect(&ADOConnection1, &Connection::opened, this, [this] {
        try {
            Schema::ensureNumberIndexes(ADOConnection1);
        } catch (const Error &error) {
            qWarning().noquote() << "number indexes not made:" << error.message();
        }
    });
    DataModuleCreate(ui);
}

TDataModule5::~TDataModule5()
{
    modules().removeAll(this);
}

bool TDataModule5::reconnect(const QString &text)
{
    if (!ADOConnection1.onServer() || m_reconnecting)
        return !ADOConnection1.isLost();
    if (!ADOConnection1.isLost() && ADOConnection1.isAlive())
        return true;
    m_reconnecting = true;
    const bool connected = m_ui.reconnect(text, [this] {
        try {
            ADOConnection1.reconnect();
            return QString();
        } catch (const Error &error) {
            return error.message();
        }
    });
    m_reconnecting = false;
    return connected;
}

bool TDataModule5::ensureConnected(bool probe)
{
    if (!ADOConnection1.isLost() && (!probe || ADOConnection1.isAlive()))
        return true;
    try {
        ADOConnection1.reconnect();
        return true;
    } catch (const Error &error) {
        qWarning().noquote() << "reconnection failed:" << error.logText();
    }
    return reconnect();
}

QString TDataModule5::connectionStringFor(const QString &programFolder)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=")
           + ProgramFolder::resolve(programFolder, Schema::kDatabaseFile)
           + QStringLiteral(";Persist Security Info=True;Jet OLEDB:Database Password=") + Schema::kDatabasePassword;
}

void TDataModule5::DataModuleCreate(Ui &ui)
{
    // The catalogue is the file in the program folder unless myini.ini names a server; a
    // server's own failures are said as what they are (not started, no password, ...), and
    // so are the file's (missing, another password, damaged).
    const CatalogueLocation location = CatalogueLocation::load(IniFile::settingsOf(m_programFolder));
    const auto fail = [&ui](const QString &detail) {
        QString text = QStringLiteral("无法链接到数据库");
        if (!detail.isEmpty())
            text += QStringLiteral("\n") + detail;
        ui.messageBox(text, QStringLiteral("错误"), Ui::Icon::None, Ui::Buttons::Ok);
        ui.requestQuit();
    };
    if (!location.problem.isEmpty()) {
        qWarning().noquote() << "catalogue settings refused:" << location.problem;
        fail(location.problem);
        return;
    }
    try {
        ADOConnection1.setConnectionString(connectionStringFor(m_programFolder));
        ADOConnection1.setServer(location.onServer() ? location.server : PgSettings());
        ADOConnection1.close();
        ADOConnection1.open();
        m_connected = true;
    } catch (const Error &error) {
        qWarning().noquote() << "database connection failed:" << error.logText();
        fail(error.message());
    }
}

bool TDataModule5::RunSql(const QString &sqlText)
{
    try {
        ADOConnection1.execute(sqlText);
        return true;
    } catch (const Error &error) {
        // Only the statement's first word: its values may be a password.
        qWarning().noquote() << "RunSql failed:" << error.message() << "--"
                             << sqlText.trimmed().section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
        return false;
    }
}

void TDataModule5::OpenSql(const QString &sqlText, Dataset &dataset, Cause *failure)
{
    try {
        dataset.close();
        dataset.setConnection(&ADOConnection1);
        dataset.setCommandText(sqlText);
        dataset.open();
    } catch (const Error &error) {
        qWarning().noquote() << "OpenSql failed:" << error.message() << "--" << sqlText;
        if (failure)
            *failure = error.cause();
    }
}

ArchivalCodeSettings TDataModule5::codeSettings() const
{
    return ArchivalCodeSettings::load(IniFile::settingsOf(m_programFolder));
}

} // namespace dagl
