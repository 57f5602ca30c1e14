#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QTableView>

#include <functional>

namespace dagl {

class Dataset;

// The rows of a dataset as a table for grids. Columns are given as field names with
// titles, or default to every field under its own name. Rows are read through the
// dataset, so the model follows opens, sorts, appends, posts and deletes.
class DatasetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Column {
        QString field;
        QString title;
        // A column worked out from other fields of its row, shown read-only: `compute`
        // gets the texts of the `inputs` fields, in that order, from the row already read.
        QStringList inputs = {};
        std::function<QString(const QStringList &texts)> compute = {};

        bool isComputed() const { return bool(compute); }
    };

    explicit DatasetModel(QObject *parent = nullptr);

    void setDataset(Dataset *dataset);
    Dataset *dataset() const { return m_dataset; }
    void setColumns(const QVector<Column> &columns);
    QString fieldAt(int column) const;
    // The column as set; an empty one when the model shows every field.
    Column columnAt(int column) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Whether rows of the result are still being read (rowCount() grows meanwhile).
    bool rowsStillComing() const;

signals:
    // The last rows of the result have been read.
    void rowsComplete();

private:
    void reset();
    int fieldIndexOf(int column) const;

    QPointer<Dataset> m_dataset;
    QVector<Column> m_columns;
    int m_rows = 0;
    int m_fieldColumns = 0;
    int m_shiftFrom = 0; // while a change is announced: where rows moved
    int m_shift = 0;
};

// A read-only grid on a dataset whose selected row is the dataset's current row. While
// the dataset has a pending row (being edited or added) the grid stays on that row: moving
// away would have to post or lose it.
class DBGrid : public QTableView {
    Q_OBJECT

public:
    explicit DBGrid(QWidget *parent = nullptr);
    void setDataset(Dataset *dataset, const QVector<DatasetModel::Column> &columns = {});
    DatasetModel *datasetModel() const { return m_model; }
    // True while the dataset's current row is pending.
    bool rowLocked() const;
    // Whether the selected rows are the operator's choice (rows clicked or moved over with
    // Ctrl or Shift, select-all) rather than the current row, which shows as selected
    // after a plain click, a plain arrow key or a move of the dataset.
    bool rowsMarked() const { return m_marked; }
    void selectAll() override;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex &index, const QEvent *event = nullptr) const override;
    void followDataset(int row);
    void setRowsMarked(bool marked) { m_marked = marked; }

private:
    DatasetModel *m_model;
    bool m_following = false;
    mutable bool m_marked = false;
    int m_keptColumn = 0; // the current cell's column across a reset
};

} // namespace dagl
