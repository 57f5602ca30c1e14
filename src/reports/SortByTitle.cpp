#include "SortByTitle.h"

#include "BusyCursor.h"
#include "Dataset.h"
#include "Schema.h"
#include "Ui.h"

namespace dagl {

SortStep nextSortStep(DBGridEh::SortMarker current, const QString &field)
{
    switch (current) {
    case DBGridEh::SortMarker::None:
        return { DBGridEh::SortMarker::Down, true, field + QStringLiteral(" ASC") };
    case DBGridEh::SortMarker::Down:
        return { DBGridEh::SortMarker::Up, true, field + QStringLiteral(" DESC") };
    case DBGridEh::SortMarker::Up:
        break;
    }
    return { DBGridEh::SortMarker::None, false, {} };
}

void SortByTitle(DBGridEh &grid, int column, Dataset &dataset, Ui *ui)
{
    const QString field = grid.datasetModel()->fieldAt(column);
    if (field.isEmpty())
        return;
    const SortStep step = nextSortStep(grid.sortMarker(column), field);
    if (step.changesSort) {
        // A catalogue made before the title's kept keys is given them at the first click.
        if (dataset.isOpen() && !dataset.isEditing() && dataset.connection()) {
            std::unique_ptr<Ui::Progress> progress; // shown only when the keys are made
            const bool made = Schema::ensureSortIndex(*dataset.connection(), field, [&](qint64 done, qint64 total) {
                if (!progress && ui)
                    progress = ui->progress(QStringLiteral("正在建立排序索引……"));
                return !progress || progress->step(done, total);
            });
            if (!made)
                return;
        }
        const BusyCursor busy;
        dataset.sort(step.sortText);
    }
    grid.setSortMarker(column, step.marker);
}

} // namespace dagl
