#pragma once

#include "ArchivalCode.h"
#include "RecordCheck.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace dagl {

class DBComboBox;
class DBEdit;
class TDataModule5;
class Ui;

// The archive record editor "档案数据录入修改": every field is bound to the current row of
// `Tsyyp`, so the record list sees each change at once. The record list appends or edits
// the row, creates the window, sets the mode and shows it (append mode: not modal; edit
// mode: exec()). Closing by any means cancels the pending row and frees the window
// (Qt::WA_DeleteOnClose): hold it in a QPointer.
class TFrm_AEsj : public QDialog {
    Q_OBJECT

public:
    TFrm_AEsj(TDataModule5 &dm, Ui &ui, QWidget *parent = nullptr);
    ~TFrm_AEsj() override;

    // Shows 保存(&S), 返回(&C) and the copy box, hides 修改(&E) and 返回(&X), and sets the
    // four lists of the pending new row to their first entries.
    void setAppendMode();
    // Shows 修改(&E) and 返回(&X), hides the others; the lists keep the row's values.
    void setEditMode();
    bool isAppendMode() const { return m_appendMode; }

    // The selected entry standard (0: by volume, 1: by item).
    int standard() const;
    void setStandard(int standard);

    // Handlers, public so that the record list and tests can drive them.
    bool CheckRecord();
    void BitBtn1Click(); // 保存(&S)
    void BitBtn2Click(); // 修改(&E)
    void BitBtn3Click(); // 返回(&C)
    void BitBtn4Click(); // 返回(&X)
    void Button2Click(); // 打开挂接路径(&O)
    void RadioGroup1Click();

    static constexpr const char *kLeaveUnsaved = "本条记录没有保存，返回后输入的内容将丢失。确实要返回吗？";
    static constexpr const char *kSaveAgain = "已重新连接到数据库服务器，本条记录没有保存，请再保存一次。";
    static constexpr const char *kStoredBeforeLost = "已重新连接到数据库服务器。连接断开前本条记录已经保存。";

    // The input method named by the settings (after the window was shown).
    const QString &inputMethod() const { return m_inputMethod; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;

private:
    void FormShow();
    void FormClose();
    void buildControls();
    void applyMode(bool append);
    QWidget *control(const QString &field) const;
    QString displayed(const QString &field) const;
    void focusField(const QString &field);
    void cancelPending();
    void prepareNextRow(const RecordValues &carried);
    // The numbers as the fields show them.
    RecordNumber displayedNumber() const;
    // True when the record's number is free, or the operator answers to store it anyway;
    // `except` is the record being edited.
    bool numberAccepted(qlonglong except);
    // Proposes the next number of the series while the operator has not typed one.
    void proposeNumber();
    // Checks and stores the row being entered; a refusal is said as `refused` and the typed
    // values stay; a lost connection is reconnected and the row looked for on the server.
    bool storeRow(qlonglong except, const QString &refused, const std::function<void()> &beforePost);
    // A save that met a lost connection: said, the connection made again, and a save whose
    // answer was lost looked for on the server. True when the row turned out stored.
    bool recoverLostSave();
    // After a failed save, whether the operator gives up the typed record to leave.
    bool leaveAllowed();

    TDataModule5 &m_dm;
    Ui &m_ui;
    bool m_appendMode = true;
    bool m_closed = false;
    bool m_openedUnit = false; // TJCsj was opened here, so it is closed here
    QString m_inputMethod;
    QHash<QString, QWidget *> m_controls; // column name -> bound control
    QHash<QWidget *, QString> m_columnOf;
    QButtonGroup *m_standards = nullptr;
    QCheckBox *m_copy = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_modify = nullptr;
    QPushButton *m_returnAppend = nullptr;
    QPushButton *m_returnEdit = nullptr;
    QPushButton *m_openPath = nullptr;
    std::optional<RecordNumber> m_previous; // of the record saved last, in append mode
    QString m_proposed; // the number proposed for the new row, while it stands
    bool m_saveFailed = false; // the pending row's last save failed
};

} // namespace dagl
