#include "SortByTitle.h"

#include "BusyCursor.h"
#include "Dataset.h"
#include "Schema.h"

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

void SortByTitle(DBGridEh &grid, int column, Dataset &dataset)
{
    const QString field = grid.datasetModel()->fieldAt(column);
    if (field.isEmpty())
        return;
    const SortStep step = nextSortStep(grid.sortMarker(column), field);
    if (step.changesSort) {
        const BusyCursor busy;
        // A catalogue made before the title's order index is given it at the first click.
        if (dataset.isOpen() && !dataset.isEditing() && dataset.connection())
            Schema::ensureSortIndex(*dataset.connection(), field);
        dataset.sort(step.sortText);
    }
    grid.setSortMarker(column, step.marker);
}

} // namespace dagl
