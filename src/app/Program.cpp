#include "Program.h"

#include "Backup.h"
#include "Error.h"
#include "TDataModule5.h"
#include "TFormLogin.h"
#include "Ui.h"

#include <QDebug>

namespace dagl {

Program::Program(const QString &programFolder, Ui &ui)
{
    CheckInitDir(programFolder);
    ReadInitInfo(programFolder, m_initInfo);
    Ui::setApplicationTitle(kFirstTitle);
    ui.setExportFolder(programFolder + QStringLiteral("Excel/"));
    m_dm = std::make_unique<TDataModule5>(programFolder, ui);
    if (!m_dm->isConnected())
        return;
    cleanLeftovers(programFolder);
    m_context.reset(new AppContext{*m_dm, ui, m_session, m_initInfo, QString()});
    m_main = std::make_unique<TForm1>(*m_context);
    // The login window belongs to the application, not to the main window: it is shown
    // over it and discarded after the login.
    m_login = new TFormLogin(*m_dm, m_session, ui);
    m_main->setLoginWindow(m_login);
}

void Program::cleanLeftovers(const QString &programFolder)
{
    // Another copy of the program at work on the same database may be making them.
    Connection &connection = m_dm->ADOConnection1;
    try {
        if (!connection.claimExclusive())
            return;
    } catch (const Error &error) {
        qWarning().noquote() << "leftovers not looked for:" << error.message();
        return;
    }
    Backup::cleanLeftovers(programFolder);
    connection.releaseExclusive();
}

Program::~Program()
{
    delete m_login;
    m_main.reset();
}

bool Program::started() const
{
    return m_main != nullptr;
}

} // namespace dagl
