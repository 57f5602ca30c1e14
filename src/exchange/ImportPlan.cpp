#include "ImportPlan.h"

#include "Connection.h"
#include "Dataset.h"
#include "Error.h"
#include "ExcelWorkbook.h"
#include "IniFile.h"
#include "NumberRegister.h"

#include <QDate>
#include <QElapsedTimer>
#include <QRegularExpression>

namespace dagl {

namespace {

// A date typed as text, as clerks write them: 2025/3/16, 2025-03-16, 2025.3.16 or
// 2025年3月16日. No date when the text is anything else or names no day of the calendar.
QDate dateInText(const QString &text)
{
    static const QRegularExpression written(
        QStringLiteral(R"(^\s*(\d{4})\s*[/.\-年]\s*(\d{1,2})\s*[/.\-月]\s*(\d{1,2})\s*日?\s*$)"));
    const QRegularExpressionMatch match = written.match(text);
    if (!match.hasMatch())
        return {};
    return QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
}

} // namespace

const std::array<ImportColumn, 24> &importColumns()
{
    static const std::array<ImportColumn, 24> columns { {
        { "档案馆代码", "GDM", 1, "spbm" },
        { "全宗号", "QZH", 2, "spmc" },
        { "目录号", "MLH", 3, "splb" },
        { "案卷号", "AJH", 4, "sccj" },
        { "盒号", "HH", 5, "jx" },
        { "件号", "JH", 6, "dw" },
        { "文号", "WH", 7, "gg" },
        { "成文时间", "CWSJ", 8, "pzwh" },
        { "文件题名", "TM", 9, "sptm" },
        { "责任者", "ZRZ", 10, "lsj" },
        { "机构问题", "JGWT", 11, "pfj" },
        { "归档年度", "GDND", 12, "hyj" },
        { "保管期限", "BGQX", 13, "bgqx" },
        { "密级", "MJ", 14, "mj" },
        { "页数页码", "YH", 15, "ysym" },
        { "单位代码", "DWDM", 23, "dwdm" },
        { "单位名称", "DWMC", 24, "dwmc" },
        { "顺序号", "SXH", 25, "sxh" },
        { "拍摄者", "PSZ", 16, "psz" },
        { "拍摄地点", "PSDD", 17, "psdd" },
        { "人物", "人名", 18, "rw" },
        { "档案类型", "DALX", 19, "dalx" },
        { "控制标识", "KZBS", 20, "kzbs" },
        { "备注", "BZ", 21, "bz" },
    } };
    return columns;
}

namespace ImportSettings {

const QString kSection = QStringLiteral("zddr");

QString columnKey(const ImportColumn &column)
{
    return QString::fromLatin1(column.flagKey) + QStringLiteral("id");
}

ImportMapping load(const IniFile &settings)
{
    ImportMapping mapping;
    for (const ImportColumn &column : importColumns()) {
        ImportChoice choice;
        choice.ticked
            = settings.read(kSection, QString::fromLatin1(column.flagKey), QStringLiteral("1")) == QLatin1String("1");
        choice.columnText = settings.read(kSection, columnKey(column), QString());
        mapping.push_back(choice);
    }
    return mapping;
}

void save(const IniFile &settings, const ImportMapping &mapping)
{
    const auto &columns = importColumns();
    for (size_t i = 0; i < columns.size() && int(i) < mapping.size(); ++i) {
        settings.write(kSection, QString::fromLatin1(columns[i].flagKey),
            mapping[int(i)].ticked ? QStringLiteral("1") : QStringLiteral("0"));
        settings.write(kSection, columnKey(columns[i]), mapping[int(i)].columnText);
    }
}

} // namespace ImportSettings

ImportPlan::ImportPlan(const ImportMapping &mapping, int sheetColumns, Dataset &target)
    : m_target(target)
{
    const auto &columns = importColumns();
    for (size_t i = 0; i < columns.size() && int(i) < mapping.size(); ++i) {
        const ImportChoice &choice = mapping[int(i)];
        if (!choice.ticked)
            continue;
        const QString field = QString::fromUtf8(columns[i].field);
        Step step { target.fieldByName(field), 0, -1, QString(), field == QLatin1String("CWSJ"),
            QString::fromUtf8(columns[i].label) };
        const FieldDef &def = target.fieldDef(step.field);
        if (def.isText())
            step.size = def.size;
        try {
            step.column = columnOf(choice.columnText, sheetColumns);
        } catch (const Error &error) {
            step.fault = step.label + QStringLiteral("：") + error.message(); // which of the 24 boxes
        }
        m_steps.push_back(step);
    }
}

int ImportPlan::columnOf(const QString &columnText, int sheetColumns)
{
    bool ok = false;
    const int number = columnText.trimmed().toInt(&ok);
    if (!ok)
        throw Error(QStringLiteral("“%1”不是有效的列号").arg(columnText));
    if (number < 1 || number > sheetColumns)
        throw Error(QStringLiteral("第%1列超出了工作表的列数（%2列）").arg(number).arg(sheetColumns));
    return number - 1;
}

QString ImportPlan::fault() const
{
    for (const Step &step : m_steps) {
        if (step.column < 0)
            return step.fault;
    }
    return {};
}

QString ImportPlan::converted(const Step &step, const QVariant &value) const
{
    const QString shown = ExcelWorkbook::textOf(value);
    QString text = shown;
    const int type = value.typeId();
    if (type == QMetaType::QDate || type == QMetaType::QDateTime) {
        // A date cut short would be another date.
        if (step.dateAsDigits || (step.size > 0 && text.size() > step.size))
            text = value.toDate().toString(QStringLiteral("yyyyMMdd"));
    } else if (step.dateAsDigits) {
        // The same date typed as text is stored as a date cell would be.
        const QDate date = dateInText(text);
        if (date.isValid())
            text = date.toString(QStringLiteral("yyyyMMdd"));
    }
    // Never cut: a number or a date cut short is another number or date, and would then be
    // stored and compared as such.
    if (step.size > 0 && text.size() > step.size)
        throw Error(QStringLiteral("%1“%2”超出了该列能容纳的%3个字符").arg(step.label, shown).arg(step.size));
    return text;
}

void ImportPlan::fill(const std::function<QVariant(int column)> &cell) const
{
    for (const Step &step : m_steps) {
        if (step.column < 0)
            throw Error(step.fault);
        const QVariant value = cell(step.column);
        if (value.isNull()) {
            m_target.setValue(step.field, QVariant());
            continue;
        }
        m_target.setValue(step.field, converted(step, value));
    }
}

RecordNumber ImportPlan::numberOf(const std::function<QVariant(int column)> &cell) const
{
    QHash<QString, QString> texts;
    for (const Step &step : m_steps) {
        const QString name = m_target.fieldDef(step.field).name.toUpper();
        if (!RecordNumber::columns().contains(name))
            continue;
        if (step.column < 0)
            throw Error(step.fault);
        const QVariant value = cell(step.column);
        texts.insert(name, value.isNull() ? QString() : converted(step, value));
    }
    return RecordNumber::from([&texts](const QString &column) { return texts.value(column); });
}

bool ImportPlan::isBlank(const std::function<QVariant(int column)> &cell) const
{
    for (const Step &step : m_steps) {
        if (step.column < 0)
            continue;
        try {
            if (!cell(step.column).isNull())
                return false;
        } catch (const Error &) {
            return false;
        }
    }
    return true;
}

QString ImportOutcome::summary() const
{
    QString text = QStringLiteral("共导入%1条记录，%2条记录导入失败").arg(saved).arg(failures.size());
    if (duplicates > 0)
        text += QStringLiteral("，%1条编号重复的记录未导入").arg(duplicates);
    if (blank > 0)
        text += QStringLiteral("，跳过%1个空行").arg(blank);
    return text + QStringLiteral("。");
}

QVector<NumberCollision> findNumberCollisions(
    const ImportPlan &plan, const ExcelWorkbook &sheet, const ArchivalCodeSettings &settings, int onlyRow)
{
    QVector<NumberCollision> collisions;
    Connection *connection = plan.target().connection();
    if (!connection)
        throw Error(QStringLiteral("数据集没有连接到数据库"));
    NumberRegister::Batch batch(*connection, settings);
    const int first = onlyRow >= 0 ? onlyRow : 0;
    const int end = onlyRow >= 0 ? std::min(onlyRow + 1, sheet.rowCount()) : sheet.rowCount();
    QVector<int> batchRow; // the data row of each number in the batch
    for (int row = first; row < end; ++row) {
        const auto cell = [&](int column) { return sheet.cell(row, column); };
        RecordNumber number;
        try {
            if (plan.isBlank(cell))
                continue;
            number = plan.numberOf(cell);
        } catch (const Error &) {
            continue; // the import lists the row with its own fault
        }
        batchRow << row;
        const auto collision = batch.add(number);
        if (!collision)
            continue;
        const QString code = ArchivalCode::compose(number, settings);
        QString line = QStringLiteral("第%1行：编号重复，档号%2").arg(row + 2).arg(code);
        if (collision->holder)
            line += QStringLiteral("已被档案“%1”使用").arg(collision->holder->title.trimmed());
        if (collision->earlier >= 0)
            line += QStringLiteral("%1与第%2行相同")
                        .arg(collision->holder ? QStringLiteral("，") : QString())
                        .arg(batchRow.at(collision->earlier) + 2);
        collisions.push_back({ row, line });
    }
    return collisions;
}

QString collisionQuestion(int rows)
{
    return QStringLiteral("有%1条记录的编号与已有档案或表中前面的行重复，已列在“导入失败记录”中。\n"
                          "是否仍然导入这些记录？选“否”只导入其他记录。")
        .arg(rows);
}

ImportOutcome importAll(const ImportPlan &plan, const ExcelWorkbook &sheet,
    const std::function<bool(int done)> &progress, int intervalMs, const QSet<int> &leaveOut)
{
    ImportOutcome outcome;
    Dataset &target = plan.target();
    Connection *connection = target.connection();
    if (!connection)
        throw Error(QStringLiteral("数据集没有连接到数据库"));
    const int rows = sheet.rowCount();
    // A mapping that fails every row is one fault, not a list of them all.
    if (rows > 0 && !plan.fault().isEmpty())
        throw Error(plan.fault());
    Transaction transaction(*connection);
    QElapsedTimer sinceReport;
    sinceReport.start();
    for (int row = 0; row < rows; ++row) {
        const auto cell = [&](int column) { return sheet.cell(row, column); };
        if (leaveOut.contains(row)) {
            ++outcome.duplicates;
            continue;
        }
        if (plan.isBlank(cell)) {
            ++outcome.blank;
            continue;
        }
        target.append();
        bool filled = true;
        try {
            plan.fill(cell);
        } catch (const Error &error) {
            filled = false;
            outcome.failures << QStringLiteral("第%1行：%2").arg(row + 2).arg(error.message());
        }
        try {
            if (filled) {
                target.post();
                if (++outcome.saved == 1)
                    outcome.firstKey = target.bookmark();
            } else {
                target.cancel();
            }
        } catch (...) {
            // A write the database refuses ends the whole run, which is then rolled back.
            if (target.isEditing())
                target.cancel();
            throw;
        }
        if (sinceReport.elapsed() >= intervalMs) {
            sinceReport.restart();
            if (!progress(row + 1)) {
                outcome.cancelled = true;
                outcome.saved = 0;
                return outcome; // the transaction rolls back
            }
        }
    }
    try {
        transaction.commit();
    } catch (const Error &error) {
        if (error.cause() != Cause::ConnectionLost || outcome.saved == 0 || outcome.firstKey <= 0)
            throw;
        outcome.answerLost = true;
        return outcome;
    }
    progress(rows);
    return outcome;
}

bool importStored(Dataset &target, const ImportOutcome &outcome)
{
    Connection *connection = target.connection();
    if (!connection)
        throw Error(QStringLiteral("数据集没有连接到数据库"));
    QString keyColumn;
    for (int f = 0; f < target.fieldCount() && keyColumn.isEmpty(); ++f) {
        if (target.fieldDef(f).type == FieldType::AutoInc)
            keyColumn = target.fieldDef(f).name;
    }
    if (keyColumn.isEmpty() || outcome.firstKey <= 0)
        return false;
    Query query(*connection, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 = ?").arg(target.tableName(), keyColumn));
    query.bind(1, outcome.firstKey);
    return query.step() && query.value(0).toLongLong() > 0;
}

} // namespace dagl
