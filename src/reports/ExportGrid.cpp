#include "ExportGrid.h"

#include "ArchivalCode.h"
#include "BusyCursor.h"
#include "DBGridEh.h"
#include "Dataset.h"
#include "Error.h"
#include "IniFile.h"
#include "Ui.h"

#include <QDir>

#include <memory>

namespace dagl {

namespace {

struct FormatEntry {
    ExportFormat format;
    const char *extension;
    const char *filter;
};

const FormatEntry kFormats[] = {
    { ExportFormat::Text, "txt", "Text files (*.txt)|*.txt" },
    { ExportFormat::Csv, "csv", "Comma separated values (*.csv)|*.csv" },
    { ExportFormat::Html, "htm", "HTML file (*.htm)|*.htm" },
    { ExportFormat::Rtf, "rtf", "Rich Text Format (*.rtf)|*.rtf" },
    { ExportFormat::Xls, "xls", "Microsoft Excel Workbook (*.xls)|*.xls" },
    { ExportFormat::Xlsx, "xlsx", "Microsoft Excel 2007 Workbook (*.xlsx)|*.xlsx" },
};

// Rows between two steps of the progress panel.
constexpr int kProgressRows = 2048;

// Clears the grid's row selection when the export ends, however it ends.
class SelectionGuard {
public:
    explicit SelectionGuard(DBGridEh &grid)
        : m_grid(grid)
    {
        m_grid.selectAllRows();
    }
    ~SelectionGuard() { m_grid.clearRowSelection(); }
    SelectionGuard(const SelectionGuard &) = delete;
    SelectionGuard &operator=(const SelectionGuard &) = delete;

private:
    DBGridEh &m_grid;
};

} // namespace

namespace ExportRules {

QString filter()
{
    QStringList entries;
    for (const FormatEntry &entry : kFormats)
        entries << QString::fromLatin1(entry.filter);
    return entries.join(QLatin1Char('|'));
}

std::optional<ExportFormat> formatOf(int filterIndex)
{
    for (const FormatEntry &entry : kFormats) {
        if (static_cast<int>(entry.format) == filterIndex)
            return entry.format;
    }
    return std::nullopt;
}

QString extensionOf(ExportFormat format)
{
    for (const FormatEntry &entry : kFormats) {
        if (entry.format == format)
            return QString::fromLatin1(entry.extension);
    }
    return {};
}

QString fileName(const QString &chosen, int filterIndex)
{
    const std::optional<ExportFormat> format = formatOf(filterIndex);
    if (!format)
        return {};
    const QString extension = extensionOf(*format);
    if (chosen.right(extension.size()).compare(extension, Qt::CaseInsensitive) == 0)
        return chosen;
    return chosen + QLatin1Char('.') + extension;
}

} // namespace ExportRules

GridTable gridTable(const DBGridEh &grid, const QVector<DatasetModel::Column> &extra)
{
    DatasetModel *model = grid.datasetModel();
    Dataset *dataset = model->dataset();
    if (!dataset)
        throw Error(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(grid.objectName()));
    dataset->requireOpen();
    // Every row, not only those read so far.
    if (!dataset->allRowsRead()) {
        const BusyCursor busy;
        dataset->readRemainingRows();
    }
    QVector<DatasetModel::Column> columns;
    for (int column : grid.visibleColumns())
        columns << model->columnAt(column);
    columns << extra;
    GridTable table;
    table.titles = grid.titles();
    for (const DatasetModel::Column &column : extra)
        table.titles << column.title;
    // The fields behind the columns are found once; the cells are then read by position.
    QVector<int> fields; // every field read, once each
    const auto readAt = [&](const QString &name) {
        const int field = dataset->fieldIndex(name);
        if (field < 0)
            return -1;
        if (!fields.contains(field))
            fields << field;
        return int(fields.indexOf(field));
    };
    // Per column: where its field or its inputs are in `fields` (-1 for one the dataset lacks).
    QVector<QVector<int>> sources;
    for (const DatasetModel::Column &column : columns) {
        QVector<int> at;
        if (column.isComputed()) {
            for (const QString &input : column.inputs)
                at << readAt(input);
            table.numeric << false;
        } else {
            at << readAt(column.field);
            const FieldType type = at.first() < 0 ? FieldType::Unknown : dataset->fieldDef(fields[at.first()]).type;
            table.numeric << (type == FieldType::Integer || type == FieldType::AutoInc);
        }
        sources << at;
    }
    // A new row still being entered is no saved record: it is left out, and counted out.
    const int pending = dataset->state() == Dataset::State::Insert ? dataset->currentRow() : -1;
    table.rowCount = model->rowCount() - (pending >= 0 ? 1 : 0);
    auto rows = std::make_shared<Dataset::RowTexts>(*dataset, fields);
    table.cell = [rows, sources, columns, pending](int row, int column) {
        const int at = pending >= 0 && row >= pending ? row + 1 : row;
        const QVector<int> &source = sources.at(column);
        if (!columns.at(column).isComputed())
            return source.first() < 0 ? QString() : rows->text(at, source.first());
        QStringList texts;
        for (int i : source)
            texts << (i < 0 ? QString() : rows->text(at, i));
        return columns.at(column).compute(texts);
    };
    for (int column : grid.visibleColumns()) {
        const DBGridEh::FooterCell footer = grid.footerCell(column);
        table.footer << (footer.kind == DBGridEh::FooterCell::Kind::RecordCount ? QString::number(table.rowCount)
                                                                                : grid.footerText(column));
    }
    for (int i = 0; i < extra.size(); ++i)
        table.footer << QString();
    return table;
}

DatasetModel::Column archivalCodeColumn(const QString &programFolder)
{
    // Read again after the rules are saved, so that an open list shows the new codes.
    struct Rules {
        ArchivalCodeSettings settings;
        int generation = -1;
    };
    auto rules = std::make_shared<Rules>();
    return { QString(), ArchivalCode::kTitle, RecordNumber::columns(), [rules, programFolder](const QStringList &texts) {
                if (rules->generation != ArchivalCodeSettings::generation()) {
                    rules->generation = ArchivalCodeSettings::generation();
                    rules->settings = ArchivalCodeSettings::load(IniFile::settingsOf(programFolder));
                }
                const RecordNumber number = RecordNumber::from([&texts](const QString &column) {
                    return texts.value(int(RecordNumber::columns().indexOf(column)));
                });
                return ArchivalCode::compose(number, rules->settings);
            } };
}

void fitArchivalCodeColumn(DBGridEh &grid)
{
    const auto fit = [&grid] {
        const QAbstractItemModel *columns = grid.model();
        for (int column = 0; column < columns->columnCount(); ++column) {
            if (columns->headerData(column, Qt::Horizontal).toString() == ArchivalCode::kTitle)
                grid.resizeColumnToContents(column);
        }
    };
    QAbstractItemModel *model = grid.model();
    QObject::connect(model, &QAbstractItemModel::modelReset, &grid, fit);
    // The first rows of a result come after its reset.
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &grid,
        [fit](const QModelIndex &, int first, int) {
            if (first == 0)
                fit();
        });
    fit();
}

namespace {

// The archival code for a grid of catalogue records that does not show it already.
QVector<DatasetModel::Column> missingArchivalCode(const DBGridEh &grid, const QString &programFolder)
{
    const Dataset *dataset = grid.datasetModel()->dataset();
    if (!dataset || grid.titles().contains(ArchivalCode::kTitle))
        return {};
    for (const QString &column : RecordNumber::columns()) {
        if (dataset->fieldIndex(column) < 0)
            return {};
    }
    return { archivalCodeColumn(programFolder) };
}

} // namespace

namespace {

// Writes the grid's rows to a file the operator names. Returns the file written; empty when
// the operator cancelled or stopped.
QString exportRows(
    DBGridEh &grid, ExportDialog &dialog, const QString &defaultName, Ui &ui, const QString &programFolder)
{
    const QString excelFolder = programFolder + QStringLiteral("Excel/");
    const SelectionGuard selection(grid);
    QString chosen = defaultName;
    if (!ui.saveFile(QStringLiteral("另存为"), excelFolder, ExportRules::filter(), chosen, dialog.filterIndex))
        return {};
    const std::optional<ExportFormat> format = ExportRules::formatOf(dialog.filterIndex);
    if (!format)
        return {};
    GridTable table = gridTable(grid, missingArchivalCode(grid, programFolder));
    // The rows are read as the writer goes: the panel follows them, and a stop ends the
    // writing with nothing left behind.
    std::shared_ptr<Ui::Progress> progress = ui.progress(QStringLiteral("正在导出……"));
    struct Stopped { };
    table.cell = [cell = table.cell, progress, total = table.rowCount, last = -1](int row, int column) mutable {
        if (row != last && row % kProgressRows == 0 && !progress->step(row, total))
            throw Stopped {};
        last = row;
        return cell(row, column);
    };
    const QString written = ExportRules::fileName(chosen, dialog.filterIndex);
    try {
        writeGridFile(*format, table, written);
    } catch (const Stopped &) {
        return {};
    }
    return written;
}

} // namespace

void ExportGrid(DBGridEh &grid, ExportDialog &dialog, const QString &defaultName, Ui &ui, const QString &programFolder)
{
    // The panel is gone and the rows no longer selected when the operator is told.
    const QString written = exportRows(grid, dialog, defaultName, ui, programFolder);
    if (written.isEmpty())
        return;
    const QString opened = ui.showExported(written);
    // The export folder is shown as it always was, wherever this file went; not twice.
    const QString excelFolder = programFolder + QStringLiteral("Excel/");
    if (opened.isEmpty() || QDir(opened) != QDir(excelFolder))
        ui.shellOpen(excelFolder);
}

} // namespace dagl
