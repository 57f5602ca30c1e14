#pragma once

#include "ReadApart.h"

#include <QString>
#include <QVector>

#include <functional>
#include <memory>

namespace dagl {

class Dataset;
class TDataModule5;
class Ui;

// The statements of the query window and the statistics window, built from fixed texts
// and the operator's values exactly as the windows have always run them: their blanks
// are kept as they are, only the quotes of a typed value are doubled.
namespace QueryStatement {

// One filter box of the query window: the column its text is searched in, the blanks
// that open its condition when it comes first, and where the box stands in the window.
struct FilterBox {
    const char *name; // Edit1 .. Edit11
    const char *caption; // the label before the box
    const char *column;
    const char *firstLead; // blanks before the column when no condition precedes
    int row; // place in the window's three rows of boxes
    int position;
};

// The eleven boxes in the order their conditions are added.
const QVector<FilterBox> &filterBoxes();

// The search statement; `boxText` gives a box's text by its name, as typed (control characters
// are dropped from it).
QString search(const std::function<QString(const QString &boxName)> &boxText);
// Every record, in the same order as a search.
QString listAll();

// One counting button of the statistics window.
struct Count {
    const char *button; // BitBtn3, BitBtn2, BitBtn6
    const char *caption;
    const char *head;
    const char *tail;
};

const QVector<Count> &counts();
// The statement of a counting button: its head followed by its tail.
QString countStatement(const Count &count);

// Runs a statement into a result dataset as both windows do: a statement the engine
// refuses leaves the dataset closed and is reported as the closed-dataset error; an
// empty result shows "没有找到相应的单据". The rows are found on a thread of their own, a
// progress panel coming up when it takes long; a search stopped there leaves the dataset
// closed and shows nothing.
// While another copy of the program keeps the file to itself (an import), the search waits
// under its busy panel and then offers to try again with busyText(). `ahead`, the reader
// being opened ahead of the first search, is waited for under the same panel.
void run(
    TDataModule5 &dm, Dataset &dataset, const QString &sql, Ui &ui, std::unique_ptr<ReadApart::KeyStream> ahead = {});
QString busyText();

} // namespace QueryStatement
} // namespace dagl
