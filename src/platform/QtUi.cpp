#include "QtUi.h"

#include "InputMethods.h"
#include "PrintPreviewDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace dagl {

Ui::Answer QtUi::messageBox(const QString &text, const QString &caption, Icon icon, Buttons buttons)
{
    static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                              QMessageBox::Warning, QMessageBox::Critical,
                                              QMessageBox::Question};
    QMessageBox box(icons[static_cast<int>(icon)], caption, text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoDefaultNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        break;
    case Buttons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
        break;
    case Buttons::OkOpenFolder:
        box.setStandardButtons(QMessageBox::Ok);
        box.addButton(QStringLiteral("打开文件夹(&O)"), QMessageBox::ActionRole)
            ->setObjectName(QStringLiteral("OpenFolder"));
        break;
    }
    // The caption bar would cut a caption wider than a short message ("档案… .1"): the box
    // is made wide enough for it, with room for the bar's icon and buttons.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        QFont font = box.font();
        font.setBold(true);
        const int width = QFontMetrics(font).horizontalAdvance(caption) * 6 / 5 + 110;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    const int result = box.exec();
    if (box.clickedButton() && box.clickedButton()->objectName() == QLatin1String("OpenFolder"))
        return Answer::OpenFolder;
    switch (result) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Retry:
        return Answer::Retry;
    default:
        return Answer::Cancel;
    }
}

bool QtUi::reconnect(const QString &text, const std::function<QString()> &attempt)
{
    constexpr int kEveryMs = 3000;
    QDialog box(QApplication::activeWindow());
    box.setWindowTitle(applicationTitle());
    box.setMinimumWidth(460);
    auto *label = new QLabel(text, &box);
    label->setWordWrap(true);
    auto *why = new QLabel(&box);
    why->setWordWrap(true);
    auto *retry = new QPushButton(QStringLiteral("重试(&R)"), &box);
    auto *cancel = new QPushButton(QStringLiteral("取消"), &box);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(retry);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(&box);
    layout->addWidget(label);
    layout->addWidget(why);
    layout->addLayout(buttons);
    bool connected = false;
    // Tried at once, every few seconds and at 重试; the box stays up until it works.
    const auto tryOnce = [&] {
        const QString failed = attempt();
        if (failed.isEmpty()) {
            connected = true;
            box.accept();
        } else {
            why->setText(failed);
            box.adjustSize(); // the cause may take more lines than the last one
        }
    };
    QObject::connect(retry, &QPushButton::clicked, &box, tryOnce);
    QObject::connect(cancel, &QPushButton::clicked, &box, &QDialog::reject);
    QTimer timer;
    timer.setInterval(kEveryMs);
    QObject::connect(&timer, &QTimer::timeout, &box, tryOnce);
    QTimer::singleShot(0, &box, tryOnce);
    timer.start();
    box.exec();
    return connected;
}

QString QtUi::openFileName(const QString &caption, const QString &folder, const QString &filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, folder, filter);
}

QString QtUi::existingFolder(const QString &caption, const QString &folder)
{
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, folder);
}

bool QtUi::saveFile(const QString &caption, const QString &folder, const QString &filter, QString &fileName,
                    int &filterIndex)
{
    // "Name (*.ext)|*.ext|..." pairs become Qt's "Name (*.ext);;..." entries.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i < parts.size(); i += 2)
        entries << parts.at(i);
    QFileDialog dialog(QApplication::activeWindow(), caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(entries);
    if (!folder.isEmpty() && QDir(folder).exists())
        dialog.setDirectory(folder);
    if (filterIndex >= 1 && filterIndex <= entries.size())
        dialog.selectNameFilter(entries.at(filterIndex - 1));
    dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().constFirst();
    filterIndex = int(entries.indexOf(dialog.selectedNameFilter())) + 1;
    return true;
}

void QtUi::printPreview(QWidget *parent, const QString &title, PagedReport &report)
{
    PrintPreviewDialog preview(title, report, parent ? parent : QApplication::activeWindow(), this);
    preview.exec();
}

bool QtUi::shellOpen(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QStringList QtUi::printers()
{
    return QPrinterInfo::availablePrinterNames();
}

QStringList QtUi::inputMethods()
{
    return InputMethods::installed();
}

void QtUi::switchInputMethod(QWidget *field, const QString &name)
{
    // Qt has no call to pick a named input method; what it can do is let the field take
    // composed (Chinese) input when a method is chosen, and plain keys when none is.
    if (field)
        field->setAttribute(Qt::WA_InputMethodEnabled, !name.trimmed().isEmpty());
}

std::unique_ptr<Ui::Progress> QtUi::progress(const QString &label)
{
    // A panel that comes up once the work has taken half a second, and keeps the windows
    // repainting while it runs.
    class Panel : public Progress {
    public:
        explicit Panel(const QString &label)
            : m_dialog(label, QStringLiteral("取消"), 0, 100, QApplication::activeWindow())
        {
            m_dialog.setObjectName(QStringLiteral("ProgressPanel"));
            m_dialog.setWindowTitle(Ui::applicationTitle());
            m_dialog.setWindowModality(Qt::ApplicationModal);
            m_dialog.setMinimumDuration(500);
            m_dialog.setAutoClose(false);
            m_dialog.setAutoReset(false);
            // Esc closes the panel; that stops the work as the button does.
            QObject::connect(&m_dialog, &QDialog::rejected, &m_dialog, &QProgressDialog::cancel);
            m_dialog.setValue(0);
        }
        bool step(qint64 done, qint64 total) override
        {
            if (total <= 0) {
                // Work of unknown size: a busy bar, and the windows kept repainting. Until the
                // panel is up, no click or key reaches a window in the middle of the work.
                if (m_dialog.maximum() != 0)
                    m_dialog.setRange(0, 0);
                QCoreApplication::processEvents(
                    m_dialog.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
                return !m_dialog.wasCanceled();
            }
            // The bar counts in thousandths, whatever the size of the work.
            m_dialog.setMaximum(1000);
            m_dialog.setValue(total > 0 ? int(std::min<qint64>(done, total) * 1000 / total) : 0);
            return !m_dialog.wasCanceled();
        }

    private:
        QProgressDialog m_dialog;
    };
    return std::make_unique<Panel>(label);
}

void QtUi::requestQuit()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace dagl
