#pragma once

#include "DBGridEh.h"

#include <QString>

namespace dagl {

class Dataset;
class Ui;

// One step of the title-click sort cycle: none -> ascending -> descending -> none. Leaving
// the cycle keeps the rows in their present order, so the sort text is then not changed.
struct SortStep {
    DBGridEh::SortMarker marker = DBGridEh::SortMarker::None;
    bool changesSort = false;
    QString sortText; // when changesSort: "FIELD ASC" or "FIELD DESC"
};

SortStep nextSortStep(DBGridEh::SortMarker current, const QString &field);

// Sorts the grid's dataset by a click on the title of `column` and moves the marker there;
// any other column's marker goes back to none. A dataset that cannot sort (closed, a row
// pending) throws and the marker stays as it was. A catalogue sorted by the column for the
// first time gets its kept keys, with a progress panel through `ui` when given; stopped
// there, nothing changes.
void SortByTitle(DBGridEh &grid, int column, Dataset &dataset, Ui *ui = nullptr);

} // namespace dagl
