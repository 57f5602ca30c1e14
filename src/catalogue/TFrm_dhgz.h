#pragma once

#include "ArchivalCode.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTableWidget;

namespace dagl {

class TDataModule5;
class Ui;

// The rules of the archival code (档号): category code, width of the item number, the code
// of each retention period and of each 机构 found in the catalogue, and whether the 机构
// is part of the code. Shows the code of the current record as the rules stand, and lists
// the records that would share a code before the rules are saved to myini.ini.
class TFrm_dhgz : public QDialog {
    Q_OBJECT

public:
    TFrm_dhgz(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);
    ~TFrm_dhgz() override;

    void BitBtn3Click(); // 检查重复
    void BitBtn1Click(); // 保存
    void BitBtn2Click(); // 关闭

    // The settings as the controls give them.
    ArchivalCodeSettings settings() const;

private:
    void FormShow();
    void updateExample();
    // Says the first unusable code and puts the focus on it; false then.
    bool codesUsable();
    // Lists the codes more than one record would hold; their number.
    int listShared();

    TDataModule5 &m_dm;
    Ui &m_ui;
    ArchivalCodeSettings m_loaded;
    RecordNumber m_current;
    QLineEdit *m_category = nullptr;
    QSpinBox *m_digits = nullptr;
    QVector<QLineEdit *> m_retention; // in the order of retentionPeriods()
    QTableWidget *m_classes = nullptr;
    QCheckBox *m_classSegment = nullptr;
    QLineEdit *m_example = nullptr;
    QListWidget *m_shared = nullptr;
};

} // namespace dagl
