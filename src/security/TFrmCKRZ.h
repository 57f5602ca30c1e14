#pragma once

#include "Dataset.h"

#include <QDialog>

class QDateEdit;

namespace dagl {

class DBGrid;
class TDataModule5;
class Ui;

// The operation log viewer: the log-in and exit records of a range of days, today's when
// it opens.
class TFrmCKRZ : public QDialog {
    Q_OBJECT

public:
    TFrmCKRZ(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);

    void cxrz();
    void Button1Click(); // 查询
    void Button2Click(); // 退出

    Dataset &query() { return m_query; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    TDataModule5 &m_dm;
    Ui &m_ui;
    Dataset m_query;
    QDateEdit *m_start;
    QDateEdit *m_end;
    DBGrid *m_grid;
};

} // namespace dagl
