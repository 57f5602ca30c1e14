#include "InputMethods.h"

#include <QProcess>
#include <QStandardPaths>

namespace dagl::InputMethods {

namespace {

QStringList askSystem()
{
    const QString ibus = QStandardPaths::findExecutable(QStringLiteral("ibus"));
    if (ibus.isEmpty())
        return builtIn();
    QProcess process;
    process.start(ibus, { QStringLiteral("list-engine") });
    if (!process.waitForFinished(2000) || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(500);
        return builtIn();
    }
    const QStringList names = parseEngineList(process.readAllStandardOutput());
    return names.isEmpty() ? builtIn() : names;
}

} // namespace

QStringList builtIn()
{
    return { kDefaultChinese, QStringLiteral("中文 (简体) - 微软拼音"), QStringLiteral("中文 (简体) - 智能ABC"),
        QStringLiteral("中文 (简体) - 郑码"), QStringLiteral("英语 (美国)") };
}

QStringList parseEngineList(const QByteArray &output)
{
    QStringList names;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw);
        // Engines are indented under their language's header.
        if (line.isEmpty() || !line.at(0).isSpace())
            continue;
        const QString entry = line.trimmed();
        const int dash = entry.indexOf(QLatin1String(" - "));
        const QString name = (dash < 0 ? entry : entry.mid(dash + 3)).trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    }
    return names;
}

QStringList installed()
{
    // The system can take up to two seconds to answer; the list does not change in a run.
    static const QStringList names = askSystem();
    return names;
}

} // namespace dagl::InputMethods
