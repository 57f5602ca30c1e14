#include "Ui.h"

#include "Error.h"

#include <QDir>
#include <QFileInfo>

namespace dagl {

namespace {
// The application title: what the task bar would show and the caption of plain notices.
QString g_title;
std::function<void(Ui &, const Error &)> g_lostConnection;
} // namespace

bool Ui::reconnect(const QString &text, const std::function<QString()> &attempt)
{
    for (;;) {
        const QString why = attempt();
        if (why.isEmpty())
            return true;
        if (messageBox(text + QStringLiteral("\n") + why, applicationTitle(), Icon::Warning, Buttons::OkCancel)
            != Answer::Ok)
            return false;
    }
}

namespace {

// The handler set, or the standard error notice.
void handleLostConnection(Ui &ui, const Error &error)
{
    if (g_lostConnection)
        g_lostConnection(ui, error);
    else
        ui.showError(error.message());
}

} // namespace

void setLostConnectionHandler(std::function<void(Ui &, const Error &)> handler)
{
    g_lostConnection = std::move(handler);
}

std::unique_ptr<Ui::Progress> Ui::progress(const QString &)
{
    struct Quiet : Progress {
        bool step(qint64, qint64) override { return true; }
    };
    return std::make_unique<Quiet>();
}

void Ui::showMessage(const QString &text)
{
    messageBox(text, applicationTitle(), Icon::None, Buttons::Ok);
}

void Ui::showError(const QString &text)
{
    messageBox(text, applicationTitle(), Icon::Critical, Buttons::Ok);
}

void Ui::inform(const QString &text, const QString &caption)
{
    messageBox(text, caption, Icon::Information, Buttons::Ok);
}

QString Ui::showExported(const QString &file)
{
    if (messageBox(QStringLiteral("已导出到 ") + QDir::toNativeSeparators(file), QStringLiteral("提示"),
            Icon::Information, Buttons::OkOpenFolder)
        != Answer::OpenFolder)
        return {};
    const QString folder = QFileInfo(file).absolutePath();
    shellOpen(folder);
    return folder;
}

QString Ui::applicationTitle()
{
    return g_title;
}

void Ui::setApplicationTitle(const QString &title)
{
    g_title = title;
}

void runHandler(Ui &ui, const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const Error &error) {
        if (error.cause() == Cause::ConnectionLost)
            handleLostConnection(ui, error);
        else
            ui.showError(error.message());
    } catch (const std::exception &error) {
        ui.showError(QString::fromLocal8Bit(error.what()));
    }
}

} // namespace dagl
