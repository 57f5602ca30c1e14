#include "ExportGrid.h"

#include "DBGridEh.h"
#include "Dataset.h"
#include "Error.h"
#include "Ui.h"

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

GridTable gridTable(const DBGridEh &grid)
{
    DatasetModel *model = grid.datasetModel();
    Dataset *dataset = model->dataset();
    if (!dataset)
        throw Error(QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(grid.objectName()));
    dataset->requireOpen();
    const QVector<int> columns = grid.visibleColumns();
    GridTable table;
    table.titles = grid.titles();
    // The fields behind the columns are found once; the cells are then read by position.
    QVector<int> fields; // of the columns that have one
    QVector<int> readAt; // per column: its place in `fields`, -1 for a column without a field
    for (int column : columns) {
        const int field = dataset->fieldIndex(model->fieldAt(column));
        const FieldType type = field < 0 ? FieldType::Unknown : dataset->fieldDef(field).type;
        table.numeric << (type == FieldType::Integer || type == FieldType::AutoInc);
        readAt << (field < 0 ? -1 : int(fields.size()));
        if (field >= 0)
            fields << field;
    }
    // A new row still being entered is no saved record: it is left out, and counted out.
    const int pending = dataset->state() == Dataset::State::Insert ? dataset->currentRow() : -1;
    table.rowCount = model->rowCount() - (pending >= 0 ? 1 : 0);
    auto rows = std::make_shared<Dataset::RowTexts>(*dataset, fields);
    table.cell = [rows, readAt, pending](int row, int column) {
        const int at = readAt.at(column);
        return at < 0 ? QString() : rows->text(pending >= 0 && row >= pending ? row + 1 : row, at);
    };
    for (int column : columns) {
        const DBGridEh::FooterCell footer = grid.footerCell(column);
        table.footer << (footer.kind == DBGridEh::FooterCell::Kind::RecordCount ? QString::number(table.rowCount)
                                                                                : grid.footerText(column));
    }
    return table;
}

void ExportGrid(DBGridEh &grid, ExportDialog &dialog, const QString &defaultName, Ui &ui, const QString &programFolder)
{
    const QString excelFolder = programFolder + QStringLiteral("Excel/");
    const SelectionGuard selection(grid);
    QString chosen = defaultName;
    if (!ui.saveFile(QStringLiteral("另存为"), excelFolder, ExportRules::filter(), chosen, dialog.filterIndex))
        return;
    const std::optional<ExportFormat> format = ExportRules::formatOf(dialog.filterIndex);
    if (!format)
        return;
    GridTable table = gridTable(grid);
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
    try {
        writeGridFile(*format, table, ExportRules::fileName(chosen, dialog.filterIndex));
    } catch (const Stopped &) {
        return;
    }
    progress.reset();
    ui.shellOpen(excelFolder);
}

} // namespace dagl
