#include "SortByTitle.h"

#include "Dataset.h"

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
    if (step.changesSort)
        dataset.sort(step.sortText);
    grid.setSortMarker(column, step.marker);
}

} // namespace dagl
