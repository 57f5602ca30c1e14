#pragma once

#include "FormRecords.h"

#include <QDialog>

class QCheckBox;
class QComboBox;

namespace dagl {

class TDataModule5;
class Ui;

// "打印档案目录与盒签": chooses the records (by 全宗号, 归档年度, 保管期限 and 机构问题, or the
// rows selected in the record list) and the form, and opens its print preview. It only reads.
class TFrm_dyml : public QDialog {
    Q_OBJECT

public:
    // `selectedRows`: the keys of the rows selected in the record list, offered instead of the
    // choices when there are any.
    TFrm_dyml(TDataModule5 &dm, Ui &ui, const QVector<qlonglong> &selectedRows = {}, QWidget *parent = nullptr);

    // What the window's controls choose.
    FormSelection selection() const;
    ArchivalForm form() const;
    int spineWidth() const;

    void BitBtn1Click(); // 预览(&P)
    void BitBtn2Click(); // 关闭(&C)

private:
    // The values present in the catalogue, offered in the four lists.
    void fillChoices();
    void formChanged();
    void selectedChanged();

    TDataModule5 &m_dm;
    Ui &m_ui;
    QVector<qlonglong> m_selectedRows;
    QComboBox *m_filters[4] = {};
    QCheckBox *m_onlySelected;
    QComboBox *m_form;
    QComboBox *m_spineWidth;
};

} // namespace dagl
