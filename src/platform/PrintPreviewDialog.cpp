#include "PrintPreviewDialog.h"

#include "CheckedSaveFile.h"
#include "Error.h"
#include "ScreenFit.h"

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include <algorithm>

namespace dagl {

PrintPreviewDialog::PrintPreviewDialog(
    const QString &title, std::function<void(QPagedPaintDevice &)> render, QWidget *parent)
    : QDialog(parent)
    , m_render(std::move(render))
    , m_printer(new QPrinter(QPrinter::HighResolution))
{
    setObjectName(QStringLiteral("PrintPreview"));
    setWindowTitle(title);
    setWindowModality(Qt::ApplicationModal);
    m_printer->setColorMode(QPrinter::Color);
    m_printer->setDocName(title);
    m_preview = new QPrintPreviewWidget(m_printer, this);
    m_preview->setObjectName(QStringLiteral("PreviewWidget"));
    connect(m_preview, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter *printer) { draw(*printer); });

    auto *pageLabel = new QLabel(this);
    auto showPage = [this, pageLabel] {
        pageLabel->setText(QStringLiteral("第%1页 / 共%2页").arg(m_preview->currentPage()).arg(m_preview->pageCount()));
    };
    connect(m_preview, &QPrintPreviewWidget::previewChanged, this, showPage);

    struct Button {
        const char *name;
        const char *caption;
        std::function<void()> action;
    };
    // Paging and zoom first; the orientation, printing and closing after them.
    const QVector<Button> viewing = {
        { "FirstPage", "首页", [this] { m_preview->setCurrentPage(1); } },
        { "PriorPage", "上一页", [this] { m_preview->setCurrentPage(m_preview->currentPage() - 1); } },
        { "NextPage", "下一页", [this] { m_preview->setCurrentPage(m_preview->currentPage() + 1); } },
        { "LastPage", "末页", [this] { m_preview->setCurrentPage(m_preview->pageCount()); } },
        { "ZoomIn", "放大", [this] { m_preview->zoomIn(); } },
        { "ZoomOut", "缩小", [this] { m_preview->zoomOut(); } },
        { "FitWidth", "适合页宽", [this] { m_preview->fitToWidth(); } },
    };
    const QVector<Button> output = {
        { "PrintButton", "打印(&P)", [this] { print(); } },
        { "SavePdf", "保存为PDF(&S)", [this] { savePdfAs(); } },
        { "CloseButton", "关闭(&C)", [this] { reject(); } },
    };
    auto makeButtons = [this](const QVector<Button> &table) {
        QWidgetList made;
        for (const Button &b : table) {
            auto *button = new QPushButton(QString::fromUtf8(b.caption), this);
            button->setObjectName(QString::fromLatin1(b.name));
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, b.action);
            made << button;
        }
        return made;
    };

    // A wide grid reads better across the page: the report is laid out again for the
    // orientation chosen, and printed and saved that way.
    auto *orientation = new QComboBox(this);
    orientation->setObjectName(QStringLiteral("Orientation"));
    orientation->addItems({ QStringLiteral("纵向"), QStringLiteral("横向") });
    auto *orientationLabel = new QLabel(QStringLiteral("纸张方向(&O)："), this);
    orientationLabel->setBuddy(orientation);
    connect(orientation, &QComboBox::currentIndexChanged, this,
        [this](int index) { m_preview->setOrientation(index == 1 ? QPageLayout::Landscape : QPageLayout::Portrait); });

    const QWidgetList first = makeButtons(viewing);
    const QWidgetList second = QWidgetList { orientationLabel, orientation } + makeButtons(output);
    // One row where the screen is wide enough, else two, so that no button is cut off.
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    auto *bottom = new QHBoxLayout;
    int wanted = layout->contentsMargins().left() + layout->contentsMargins().right()
        + pageLabel->fontMetrics().horizontalAdvance(QStringLiteral("第999页 / 共999页"));
    for (QWidget *widget : first + second)
        wanted += widget->sizeHint().width() + std::max(0, layout->spacing());
    const QMargins frame = ScreenFit::frameOf(this);
    const bool oneRow = wanted <= ScreenFit::availableFor(this).width() - frame.left() - frame.right();
    QHBoxLayout *last = oneRow ? top : bottom;
    for (QWidget *widget : first)
        top->addWidget(widget);
    for (QWidget *widget : second)
        last->addWidget(widget);
    top->addStretch();
    if (!oneRow)
        bottom->addStretch();
    last->addWidget(pageLabel);
    layout->addLayout(top);
    if (!oneRow)
        layout->addLayout(bottom);
    else
        delete bottom;
    layout->addWidget(m_preview, 1);
    resize(std::max(900, minimumSizeHint().width()), 700);
    ScreenFit::fit(this);
}

PrintPreviewDialog::~PrintPreviewDialog()
{
    delete m_preview;
    delete m_printer;
}

bool PrintPreviewDialog::draw(QPagedPaintDevice &device)
{
    // Drawing runs inside Qt's signal handling, where an exception must not pass.
    try {
        m_render(device);
        return true;
    } catch (const Error &error) {
        qWarning().noquote() << "report not drawn:" << error.message();
    } catch (const std::exception &error) {
        qWarning().noquote() << "report not drawn:" << QString::fromLocal8Bit(error.what());
    }
    return false;
}

void PrintPreviewDialog::print()
{
    QPrintDialog dialog(m_printer, this);
    if (dialog.exec() == QDialog::Accepted)
        m_preview->print();
}

bool PrintPreviewDialog::savePdf(const QString &path, Cause *cause)
{
    CheckedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (cause)
            *cause = causeOfDeviceFailure(file);
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setTitle(windowTitle());
        writer.setCreator(QStringLiteral("dagl"));
        writer.setResolution(600);
        writer.setPageLayout(m_printer->pageLayout());
        if (!draw(writer)) {
            if (cause)
                *cause = file.failure();
            return false; // the unfinished file is dropped with the CheckedSaveFile
        }
    }
    try {
        file.commitChecked();
    } catch (const Error &error) {
        qWarning().noquote() << "PDF not saved:" << path << error.logText();
        if (cause)
            *cause = error.cause();
        return false;
    }
    return true;
}

void PrintPreviewDialog::savePdfAs()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存为PDF"),
        QDir::home().filePath(windowTitle() + QStringLiteral(".pdf")), QStringLiteral("PDF 文件 (*.pdf)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    Cause cause = Cause::Unknown;
    if (!savePdf(path, &cause))
        QMessageBox::critical(this, windowTitle(),
            withCause(QStringLiteral("无法保存文件 %1").arg(QDir::toNativeSeparators(path)), cause));
}

} // namespace dagl
