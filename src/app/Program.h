#pragma once

#include "InitInfo.h"
#include "Session.h"
#include "TForm1.h"

#include <QPointer>

#include <memory>

namespace dagl {

class TDataModule5;
class TFormLogin;
class Ui;

// The start-up sequence and what it makes for the run: the branding, the data module, the
// main window and the hidden login window.
class Program
{
public:
    static inline const QString kFirstTitle = QStringLiteral("青穗档案管理利用系统");

    Program(const QString &programFolder, Ui &ui);
    ~Program();

    // False when the database could not be opened: the program ends at once.
    bool started() const;
    TForm1 *mainWindow() const { return m_main.get(); }
    TDataModule5 &dataModule() const { return *m_dm; }
    Session &session() { return m_session; }
    const InitInfo &initInfo() const { return m_initInfo; }

private:
    // What copies and exports cut short by a kill left behind.
    void cleanLeftovers(const QString &programFolder);

    InitInfo m_initInfo;
    Session m_session;
    std::unique_ptr<TDataModule5> m_dm;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<TForm1> m_main;
    QPointer<TFormLogin> m_login; // until the main window has shown and discarded it
};

} // namespace dagl
