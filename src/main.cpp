#include "DesktopConventions.h"
#include "Program.h"
#include "ProgramFolder.h"
#include "QtUi.h"
#include "Skin.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    // Qt's own texts (standard buttons, file dialogs) in Chinese.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);
    dagl::Skin::apply(app);
    dagl::DesktopConventions::install();

    dagl::QtUi ui;
    dagl::Program program(dagl::ProgramFolder::ofExecutable(), ui);
    if (!program.started())
        return 1;
    app.setQuitOnLastWindowClosed(false);
    program.mainWindow()->show();
    return app.exec();
}
