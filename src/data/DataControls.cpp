#include "DataControls.h"

#include "Dataset.h"
#include "Error.h"
#include "Ui.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDebug>
#include <QFocusEvent>
#include <QLabel>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QValidator>

namespace dagl {

namespace {

// A box cuts what is typed or pasted at its maximum length by UTF-16 units; a cut inside
// a surrogate pair would leave half a character, which is stored as "?". The half goes.
// A pasted NUL goes too: it is no part of any text, and the value would end there.
class WholeCharacters : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        for (qsizetype i = input.size() - 1; i >= 0; --i) {
            const QChar c = input.at(i);
            if (c.isNull()) {
                input.remove(i, 1);
                if (pos > i)
                    --pos;
                continue;
            }
            const bool half = (c.isHighSurrogate() && (i + 1 >= input.size() || !input.at(i + 1).isLowSurrogate()))
                || (c.isLowSurrogate() && (i == 0 || !input.at(i - 1).isHighSurrogate()));
            if (half) {
                input.remove(i, 1);
                if (pos > i)
                    --pos;
            }
        }
        return Acceptable;
    }
};

} // namespace

QString labelOf(const QWidget *control)
{
    QString caption;
    if (const QWidget *window = control->window()) {
        const QList<QLabel *> labels = window->findChildren<QLabel *>();
        for (const QLabel *label : labels) {
            if (label->buddy() == control) {
                caption = label->text();
                break;
            }
        }
    }
    if (caption.isEmpty())
        caption = control->accessibleName();
    caption.remove(QLatin1Char('&'));
    caption.remove(QLatin1Char(' '));
    while (caption.endsWith(QStringLiteral("：")) || caption.endsWith(QLatin1Char(':')))
        caption.chop(1);
    return caption;
}

QLabel *buddyLabel(const char *caption, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(QString::fromUtf8(caption), parent);
    label->setBuddy(buddy);
    if (qobject_cast<QAbstractItemView *>(buddy))
        buddy->setAccessibleName(label->text().remove(QRegularExpression(QStringLiteral("\\(&.\\)|："))));
    return label;
}

namespace {

QString namedFor(QWidget *control, const QString &message)
{
    const QString label = labelOf(control);
    return label.isEmpty() ? message : label + QStringLiteral("：") + message;
}

} // namespace

FieldError::FieldError(const Error &error, QWidget *control)
    : Error(namedFor(control, error.message()), error.cause(), error.detail())
    , m_control(control)
{
}

void keepWholeCharacters(QLineEdit *edit)
{
    if (!edit->validator())
        edit->setValidator(new WholeCharacters(edit));
}

void FieldLink::limitLength(QLineEdit *edit)
{
    m_lengthEdit = edit;
    keepWholeCharacters(edit);
}

FieldLink::FieldLink(QWidget *control, std::function<QString()> read, std::function<void(const QString &)> show)
    : QObject(control)
    , m_control(control)
    , m_read(std::move(read))
    , m_show(std::move(show))
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
                rowValuesChanged();
        });
        connect(dataset, &Dataset::rowsReset, this, &FieldLink::refresh);
        connect(dataset, &Dataset::stateChanged, this, [this](Dataset::State state) {
            // Posted or cancelled: what was typed is settled either way.
            if (state == Dataset::State::Browse || state == Dataset::State::Inactive)
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
    const int field = m_dataset && m_dataset->isOpen() ? m_dataset->fieldIndex(m_field) : -1;
    constexpr int kUnlimited = 32767; // a line edit's own default
    if (m_lengthEdit && field >= 0
        && (m_lengthEdit->maxLength() == kUnlimited || m_lengthEdit->maxLength() == m_fieldLimit)) {
        const FieldDef &def = m_dataset->fieldDef(field);
        const bool integer = def.type == FieldType::Integer || def.type == FieldType::AutoInc;
        // Nine digits always fit a long integer.
        m_fieldLimit = def.isText() && def.size > 0 ? def.size : (integer ? 9 : kUnlimited);
        m_lengthEdit->setMaxLength(m_fieldLimit);
    }
    QString text;
    if (field >= 0 && m_dataset->currentRow() >= 0)
        text = m_dataset->text(m_field);
    m_pending = false;
    m_show(text);
}

void FieldLink::rowValuesChanged()
{
    // Another field of the row was set: text typed here and not yet handed over stays,
    // unless the program has set this very field meanwhile.
    if (m_pending && m_dataset && m_dataset->isEditing() && m_dataset->fieldIndex(m_field) >= 0
        && m_dataset->value(m_field) == m_pendingBase)
        return;
    refresh();
}

void FieldLink::userEdited()
{
    if (!m_dataset || !m_dataset->isOpen() || m_dataset->currentRow() < 0)
        return;
    m_writing = true;
    try {
        if (!m_dataset->isEditing())
            m_dataset->edit();
        if (fieldIsText()) {
            m_dataset->setText(m_field, m_read());
        } else {
            if (!m_pending)
                m_pendingBase = m_dataset->value(m_field);
            m_pending = true;
        }
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
    } catch (const Error &error) {
        m_writing = false;
        throw FieldError(error, m_control);
    } catch (...) {
        m_writing = false;
        throw;
    }
    m_writing = false;
}

bool FieldLink::tryCommit()
{
    if (m_reporting)
        return false;
    try {
        commit();
        return true;
    } catch (const Error &error) {
        m_reporting = true;
        if (isSignalConnected(QMetaMethod::fromSignal(&FieldLink::commitFailed)))
            emit commitFailed(error.message());
        else
            qWarning().noquote() << m_control->objectName() << error.message(); // the post reports it
        m_reporting = false;
        return false;
    }
}

void reportFieldErrors(QWidget *window, Ui &ui)
{
    for (FieldLink *link : window->findChildren<FieldLink *>()) {
        QObject::connect(link, &FieldLink::commitFailed, window, [link, &ui](const QString &message) {
            ui.showError(message);
            link->control()->setFocus(Qt::OtherFocusReason);
        });
    }
}

bool shownInOtherWindow(const Dataset &dataset, const QWidget *except)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window == except || !window->isVisible())
            continue;
        const QList<FieldLink *> links = window->findChildren<FieldLink *>();
        for (const FieldLink *link : links) {
            if (link->dataset() == &dataset)
                return true;
        }
    }
    return false;
}

DBEdit::DBEdit(QWidget *parent)
    : QLineEdit(parent)
    , m_link(
          this, [this] { return text(); }, [this](const QString &t) { setText(t); })
{
    connect(this, &QLineEdit::textEdited, &m_link, &FieldLink::userEdited);
    m_link.limitLength(this);
}

void DBEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // Leaving the box hands its value over; switching to another window or a menu is not leaving.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason && isVisible())
        m_link.tryCommit();
}

DBMemo::DBMemo(QWidget *parent)
    : QPlainTextEdit(parent)
    , m_link(
          this, [this] { return toPlainText(); },
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
    : QComboBox(parent)
    , m_link(
          this, [this] { return currentText(); }, [this](const QString &t) { setEditText(t); })
{
    setEditable(true);
    connect(lineEdit(), &QLineEdit::textEdited, &m_link, &FieldLink::userEdited);
    m_link.limitLength(lineEdit());
    connect(this, &QComboBox::activated, &m_link, [this] { m_link.userEdited(); });
}

} // namespace dagl
