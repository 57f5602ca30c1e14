#include "Program.h"

#include "TDataModule5.h"
#include "TFormLogin.h"
#include "Ui.h"

namespace dagl {

Program::Program(const QString &programFolder, Ui &ui)
{
    CheckInitDir(programFolder);
    ReadInitInfo(programFolder, m_initInfo);
    Ui::setApplicationTitle(kFirstTitle);
    m_dm = std::make_unique<TDataModule5>(programFolder, ui);
    if (!m_dm->isConnected())
        return;
    m_context.reset(new AppContext{*m_dm, ui, m_session, m_initInfo, QString()});
    m_main = std::make_unique<TForm1>(*m_context);
    // The login window belongs to the application, not to the main window: it is shown
    // over it and discarded after the login.
    m_login = new TFormLogin(*m_dm, m_session, ui);
    m_main->setLoginWindow(m_login);
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
