#include "InputMethods.h"

#include <QProcess>
#include <QStandardPaths>

namespace dagl::InputMethods {

QStringList builtIn()
{
    return {kDefaultChinese, QStringLiteral("中文 (简体) - 微软拼音"), QStringLiteral("中文 (简体) - 智能ABC"),
            QStringLiteral("中文 (简体) - 郑码"), QStringLiteral("英语 (美国)")};
}

QStringList installed()
{
    const QString ibus = QStandardPaths::findExecutable(QStringLiteral("ibus"));
    if (ibus.isEmpty())
        return builtIn();
    QProcess process;
    process.start(ibus, {QStringLiteral("list-engine"), QStringLiteral("--name-only")});
    if (!process.waitForFinished(2000) || process.exitCode() != 0) {
        process.kill();
        return builtIn();
    }
    QStringList names;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QString name = QString::fromUtf8(line).trimmed();
        if (!name.isEmpty() && !name.endsWith(QLatin1Char(':')))
            names << name;
    }
    return names.isEmpty() ? builtIn() : names;
}

} // namespace dagl::InputMethods
