#pragma once

#include "Error.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVariant>

#include <functional>

class QLabel;

namespace dagl {

class Dataset;
class Ui;

// A value typed into a bound control that its field cannot take (letters in a number),
// named by the control's label: "案卷号：“ab1”不是有效的整数".
class FieldError : public Error {
public:
    FieldError(const Error &error, QWidget *control);
    QWidget *control() const { return m_control; }

private:
    QPointer<QWidget> m_control;
};

// The caption of the label that names `control` (its buddy), without blanks, "&" and the
// closing colon; its accessible name when no label names it.
QString labelOf(const QWidget *control);
// A label of `caption` (UTF-8, with its Alt key) for `buddy`, which a screen reader then names
// by it rather than by the group's caption; an item view, which takes no name from a label,
// is given it.
QLabel *buddyLabel(const char *caption, QWidget *buddy, QWidget *parent);

// Ties one control to one field of a dataset's current row. The control shows the field
// and follows the current row; typing puts the row into edit mode and hands the text to
// the field (text fields at once, numbers and dates when the control is left or the row
// is posted, so that half-typed values are not refused). Typed text that is not yet the
// field's value survives changes to other fields of the row; it is dropped only when the
// row is posted, cancelled or left, or when this field itself is set by the program.
class FieldLink : public QObject {
    Q_OBJECT

public:
    FieldLink(QWidget *control, std::function<QString()> read, std::function<void(const QString &)> show);

    void bind(Dataset *dataset, const QString &field);
    Dataset *dataset() const { return m_dataset; }
    const QString &field() const { return m_field; }

    void userEdited();
    // Hands over text still waiting to become the field's value. Throws FieldError.
    void commit();
    // As commit(), for when the control is left: a refused value is announced through
    // commitFailed() and false is returned; the typed text stays.
    bool tryCommit();
    bool hasPendingText() const { return m_pending; }
    QWidget *control() const { return m_control; }
    void refresh();
    // The box whose length follows the field: it takes no more characters than the field
    // holds, so nothing typed is cut when the row is posted, and a character is never cut
    // in half. A limit the window set on the box itself stays.
    void limitLength(QLineEdit *edit);

signals:
    void commitFailed(const QString &message);

private:
    void rowValuesChanged();
    bool fieldIsText() const;

    QWidget *m_control;
    std::function<QString()> m_read;
    std::function<void(const QString &)> m_show;
    QPointer<QLineEdit> m_lengthEdit;
    int m_fieldLimit = -1; // the limit last taken from the field
    QPointer<Dataset> m_dataset;
    QString m_field;
    QVariant m_pendingBase; // the field's value when the typing began
    bool m_pending = false;
    bool m_writing = false;
    bool m_reporting = false;
};

// Shows in the standard error box every value the bound controls inside `window` refuse
// when they are left, and puts the focus back into the control (its text kept).
void reportFieldErrors(QWidget *window, Ui &ui);

// Keeps a box's text whole where its maximum length would cut a character outside the
// basic plane in two; the half left over goes.
void keepWholeCharacters(QLineEdit *edit);

// Whether a visible window other than `except` shows fields of `dataset` in bound controls.
bool shownInOtherWindow(const Dataset &dataset, const QWidget *except);

class DBEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit DBEdit(QWidget *parent = nullptr);
    void bind(Dataset *dataset, const QString &field) { m_link.bind(dataset, field); }
    FieldLink &link() { return m_link; }

protected:
    void focusOutEvent(QFocusEvent *event) override;

private:
    FieldLink m_link;
};

class DBMemo : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit DBMemo(QWidget *parent = nullptr);
    void bind(Dataset *dataset, const QString &field) { m_link.bind(dataset, field); }
    FieldLink &link() { return m_link; }

private:
    FieldLink m_link;
    bool m_showing = false;
};

// An editable drop-down list bound to a field: the field takes the typed or chosen text.
class DBComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit DBComboBox(QWidget *parent = nullptr);
    void bind(Dataset *dataset, const QString &field) { m_link.bind(dataset, field); }
    FieldLink &link() { return m_link; }

private:
    FieldLink m_link;
};

} // namespace dagl
