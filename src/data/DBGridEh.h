#pragma once

#include "Dataset.h"
#include "DatasetModel.h"

#include <QStringList>
#include <QVector>

class QTableView;
class QWidget;

namespace dagl {

// Makes a grid one Tab stop: Tab and Shift+Tab leave it like any other control, and
// Ctrl+Tab and Ctrl+Shift+Tab move from cell to cell within it (on to the next row at a
// row's end). Every data grid of the program gets it, DBGridEh by itself.
void takeOneTabStop(QTableView *grid);

class DBGridEhHeader;

// A read-only data grid on a dataset: whole-row selection, several rows selectable at once
// (extended selection), title cells that act as buttons with a three-state sort marker, one
// footer row, sky-blue titles and cream cells. The selected current row is the dataset's.
class DBGridEh : public DBGrid {
    Q_OBJECT

public:
    enum class SortMarker {
        None /*smNoneEh*/,
        Down /*smDownEh: ascending*/,
        Up /*smUpEh: descending*/
    };
    struct FooterCell {
        enum class Kind { Empty, Text, RecordCount } kind = Kind::Empty;
        QString text;
        Qt::Alignment alignment = Qt::AlignCenter;
    };

    explicit DBGridEh(QWidget *parent = nullptr);
    ~DBGridEh() override;

    // columns: field + title (see DatasetModel::Column); footer: one cell per column (missing = empty)
    void setFooter(const QVector<FooterCell> &cells);
    QStringList footerTexts() const; // as shown now (RecordCount -> the dataset's row count)
    QStringList titles() const; // visible column titles in grid order
    QVector<int> visibleColumns() const; // model columns shown, in grid order
    SortMarker sortMarker(int column) const;
    void setSortMarker(int column, SortMarker marker); // at most one column marked: others -> None
    void setTitleButtons(bool on); // title clicks emit titleClicked
    bool titleButtons() const { return m_titleButtons; }
    // The rows the operator selected (see rowsMarked): none while only the current row shows.
    QVector<Dataset::Bookmark> selectedBookmarks() const; // by identity
    int selectedCount() const;
    void selectAllRows();
    void clearRowSelection();
    // A footer cell as set (Empty beyond the cells given) and its text as shown.
    FooterCell footerCell(int column) const;
    QString footerText(int column) const;

signals:
    void titleClicked(int column);

protected:
    void updateGeometries() override;

private:
    void layoutFooter();

    DBGridEhHeader *m_header;
    QWidget *m_footer;
    QVector<FooterCell> m_footerCells;
    bool m_titleButtons = false;
};

} // namespace dagl
