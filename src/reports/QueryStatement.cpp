#include "QueryStatement.h"

#include "BusyCursor.h"
#include "Connection.h"
#include "Dataset.h"
#include "Error.h"
#include "ReadApart.h"
#include "Schema.h"
#include "SearchIndex.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>

namespace dagl::QueryStatement {

namespace {
const QString kBase = QStringLiteral("select * from 文件目录 ");
const QString kOrder = QStringLiteral("  order by qzh,mlh,ajh,yh");
constexpr qint64 kPanelAfterMs = 300; // a search taking longer gets its busy panel
constexpr int kFirstKeys = 64; // keys of the rows shown before the rest are read (a screenful)

// A typed value inside a quoted literal: the quote doubled so the text is searched for
// as typed; % and _ stay wildcards of the pattern.
QString literalText(QString value)
{
    return value.replace(QLatin1Char('\''), QStringLiteral("''"));
}
// A filter as it takes part in the statement: control characters (a pasted NUL, tab or
// line break) are no part of any stored value, and a NUL would end the statement early.
QString filterText(QString text)
{
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return text;
}
} // namespace

const QVector<FilterBox> &filterBoxes()
{
    static const QVector<FilterBox> table = {
        { "Edit1", "全宗号：", "qzh", "  ", 0, 0 },
        { "Edit2", "目录号：", "mlh", "  ", 0, 1 },
        { "Edit3", "案卷号：", "ajh", "  ", 0, 2 },
        { "Edit5", "文号1：", "wh", "  ", 1, 0 },
        { "Edit7", "文号2：", "wh", "  ", 1, 1 },
        { "Edit8", "文号3：", "wh", "  ", 1, 2 },
        { "Edit4", "责任者：", "zrz", " ", 0, 3 },
        { "Edit6", "题名1：", "tm", "  ", 2, 0 },
        { "Edit9", "题名2：", "tm", "  ", 2, 1 },
        { "Edit10", "题名3：", "tm", "  ", 2, 2 },
        { "Edit11", "时间：", "cwsj", "  ", 1, 3 },
    };
    return table;
}

QString search(const std::function<QString(const QString &boxName)> &boxText)
{
    QString conditions;
    for (const FilterBox &box : filterBoxes()) {
        const QString text = filterText(boxText(QString::fromLatin1(box.name)));
        if (text.trimmed().isEmpty())
            continue;
        const QString column = QString::fromLatin1(box.column);
        conditions
            += conditions.isEmpty() ? QString::fromLatin1(box.firstLead) + column : QStringLiteral(" and ") + column;
        conditions += QStringLiteral(" like '%") + literalText(text) + QStringLiteral("%' ");
    }
    if (conditions.isEmpty())
        return kBase + kOrder;
    return kBase + QStringLiteral(" where ") + conditions + kOrder;
}

QString listAll()
{
    return kBase + QStringLiteral("   order by qzh,mlh,ajh,yh");
}

const QVector<Count> &counts()
{
    static const QVector<Count> table = {
        { "BitBtn3", "按全宗号查询", "select qzh as 全宗号,mlh as 目录号,count(*) as 案卷条目  from 文件目录 ",
            "  group by qzh,mlh order by qzh,mlh" },
        { "BitBtn2", "按年度查询", "select GDND as 归档年度,count(*) as 案卷条目  from 文件目录 ",
            "  group by GDND order by GDND" },
        { "BitBtn6", "按保管期限查询", "select BGQX as 保管期限,count(*) as 案卷条目  from 文件目录 ",
            "  group by BGQX order by BGQX" },
    };
    return table;
}

QString countStatement(const Count &count)
{
    return QString::fromUtf8(count.head) + QString::fromUtf8(count.tail);
}

QString busyText()
{
    return QStringLiteral("档案目录正忙：同时运行的另一个档案管理系统正在导入或整理数据。\n请稍候再按“重试”。");
}

void run(TDataModule5 &dm, Dataset &dataset, const QString &sql, Ui &ui, std::unique_ptr<ReadApart::KeyStream> ahead)
{
    // A catalogue searched for the first time gets its search index, the operator seeing
    // how far it is; stopped or failed, the search reads every row as before. A server
    // searches with its own statements.
    Connection &connection = dm.ADOConnection1;
    if (!dm.ensureConnected(true))
        return;
    const bool local = connection.isOpen() && !connection.onServer();
    if (local && sql.contains(QLatin1String(" where "), Qt::CaseInsensitive)) {
        try {
            if (!SearchIndex::exists(connection.handle())
                && connection.tableNames().contains(Schema::kCatalogueTable, Qt::CaseInsensitive)) {
                const std::unique_ptr<Ui::Progress> progress = ui.progress(QStringLiteral("正在建立检索索引……"));
                SearchIndex::build(connection, Schema::searchIndex(),
                    [&progress](qint64 done, qint64 total) { return progress->step(done, total); });
            }
        } catch (const Error &error) {
            qWarning().noquote() << "search index not made:" << error.message();
        }
    }
    // The rows are found on a thread of their own while the windows repaint, a panel coming
    // up when it takes long and stopping the search on 取消 (the result then stays empty).
    // Inside a transaction only this connection sees its rows, so the search stays here.
    const auto search = [&](bool *cancelled) {
        std::unique_ptr<Ui::Progress> searching;
        QElapsedTimer clock;
        clock.start();
        const auto waiting = [&] {
            // A quick search shows no panel; until one is up, no click or key reaches a
            // window in the middle of the search.
            if (!searching && clock.elapsed() < kPanelAfterMs) {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                return true;
            }
            if (!searching)
                searching = ui.progress(QStringLiteral("正在查询……"));
            return searching->step(0, 0);
        };
        // While another copy of the program holds the file to itself, even preparing the
        // statement here would wait with the windows frozen: the wait is done apart, on the
        // reader being opened ahead or else on a first look at the file.
        if (!ahead && local && !connection.inTransaction())
            ahead = std::make_unique<ReadApart::KeyStream>(
                connection, QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (ahead) {
            const bool ready = ahead->waitFor(1, waiting);
            Cause busy = Cause::Unknown;
            try {
                if (ready)
                    ahead->take(true);
            } catch (const Error &error) {
                busy = error.cause();
            }
            ahead.reset();
            if (!ready) {
                *cancelled = true;
                return Cause::Unknown;
            }
            if (busy == Cause::InUse)
                return busy;
        }
        if (local && !connection.inTransaction()) {
            dataset.setKeyReader([&](const QString &, const QString &soonest) -> std::unique_ptr<Dataset::KeySource> {
                // The grid shows the first screen of rows while the rest are still being read.
                auto stream = std::make_unique<ReadApart::KeyStream>(connection, soonest);
                const bool read = stream->waitFor(kFirstKeys, waiting);
                *cancelled = !read;
                if (!read)
                    return nullptr;
                return stream;
            });
        }
        // The refusal itself is not shown; the closed result is.
        Cause failure = Cause::Unknown;
        {
            const BusyCursor busy;
            dm.OpenSql(sql, dataset, &failure);
        }
        dataset.setKeyReader({});
        return failure;
    };
    for (;;) {
        bool cancelled = false;
        const Cause failure = search(&cancelled);
        if (cancelled) {
            dataset.close();
            return;
        }
        // Another copy of the program holds the file while it writes (an import): the
        // operator waits on and tries again, or leaves the search for now.
        if (failure != Cause::InUse)
            break;
        if (ui.messageBox(busyText(), QStringLiteral("提示"), Ui::Icon::Information, Ui::Buttons::RetryCancel)
            != Ui::Answer::Retry)
            return;
    }
    // The server went away: connected again, the search runs once more; not connected, it
    // is said so rather than as a closed result.
    if (!dataset.isOpen() && connection.isLost()) {
        if (dm.reconnect()) {
            bool cancelled = false;
            search(&cancelled);
            if (cancelled) {
                dataset.close();
                return;
            }
        }
        if (!dataset.isOpen())
            throw Error(QStringLiteral("与数据库服务器的连接断开了，没有查询。请连接上以后再查询。"));
    }
    dataset.requireOpen();
    if (dataset.recordCount() < 1)
        ui.showMessage(QStringLiteral("没有找到相应的单据"));
}

} // namespace dagl::QueryStatement
