#include "DataControls.h"

#include "Dataset.h"
#include "Error.h"

#include <QDebug>

namespace dagl {

FieldLink::FieldLink(QWidget *control, std::function<QString()> read, std::function<void(const QString &)> show)
    : QObject(control), m_control(control), m_read(std::move(read)), m_show(std::move(show))
{
}

void FieldLink::bind(Dataset *dataset, const QString &field)
{
    if (m_dataset)
        disconnect(m_dataset, nullptr, this, nullptr);
    m_dataset = dataset;
    m_field = field;
    m_pending = false;
    if (dataset) {
        connect(dataset, &Dataset::currentChanged, this, &FieldLink::refresh);
        connect(dataset, &Dataset::rowChanged, this, [this](int row) {
            if (m_dataset && row == m_dataset->currentRow())
                refresh();
        });
        connect(dataset, &Dataset::rowsReset, this, &FieldLink::refresh);
        connect(dataset, &Dataset::stateChanged, this, [this](Dataset::State state) {
            if (state != Dataset::State::Edit)
                m_pending = false;
        });
        dataset->addPostHook(this, [this] { commit(); });
    }
    refresh();
}

bool FieldLink::fieldIsText() const
{
    const int index = m_dataset->fieldIndex(m_field);
    return index < 0 || m_dataset->fieldDef(index).isText() || m_dataset->fieldDef(index).type == FieldType::Unknown;
}

void FieldLink::refresh()
{
    if (m_writing)
        return;
    QString text;
    if (m_dataset && m_dataset->isOpen() && m_dataset->currentRow() >= 0 && m_dataset->fieldIndex(m_field) >= 0)
        text = m_dataset->text(m_field);
    m_pending = false;
    m_show(text);
}

void FieldLink::userEdited()
{
    if (!m_dataset || !m_dataset->isOpen() || m_dataset->currentRow() < 0)
        return;
    m_writing = true;
    try {
        if (!m_dataset->isEditing())
            m_dataset->edit();
        if (fieldIsText())
            m_dataset->setText(m_field, m_read());
        else
            m_pending = true;
    } catch (const Error &error) {
        qWarning().noquote() << m_control->objectName() << error.message();
    }
    m_writing = false;
}

void FieldLink::commit()
{
    if (!m_pending || !m_dataset || !m_dataset->isEditing())
        return;
    m_writing = true;
    try {
        m_dataset->setText(m_field, m_read());
        m_pending = false;
    } catch (...) {
        m_writing = false;
        throw;
    }
    m_writing = false;
}

DBEdit::DBEdit(QWidget *parent)
    : QLineEdit(parent), m_link(this, [this] { return text(); }, [this](const QString &t) { setText(t); })
{
    connect(this, &QLineEdit::textEdited, &m_link, &FieldLink::userEdited);
    connect(this, &QLineEdit::editingFinished, this, [this] {
        try {
            m_link.commit();
        } catch (const Error &) {
            // left pending: the post reports it
        }
    });
}

DBMemo::DBMemo(QWidget *parent)
    : QPlainTextEdit(parent), m_link(this, [this] { return toPlainText(); },
                                     [this](const QString &t) {
                                         m_showing = true;
                                         setPlainText(t);
                                         m_showing = false;
                                     })
{
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing)
            m_link.userEdited();
    });
}

DBComboBox::DBComboBox(QWidget *parent)
    : QComboBox(parent), m_link(this, [this] { return currentText(); }, [this](const QString &t) { setEditText(t); })
{
    setEditable(true);
    connect(lineEdit(), &QLineEdit::textEdited, &m_link, &FieldLink::userEdited);
    connect(this, &QComboBox::activated, &m_link, [this] { m_link.userEdited(); });
}

} // namespace dagl
