#include "PrintPreviewDialog.h"

#include "CheckedSaveFile.h"
#include "Error.h"
#include "PagedReport.h"
#include "QtUi.h"
#include "ScreenFit.h"

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace dagl {

namespace {

constexpr int kGap = 12; // pixels around and between the pages
constexpr qreal kMinZoom = 0.1, kMaxZoom = 4, kZoomStep = 1.25;

} // namespace

PageView::PageView(PagedReport &report, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_report(report)
    , m_layout(QPageSize(QPageSize::A4), report.orientation(), report.margins(), QPageLayout::Millimeter)
{
    setObjectName(QStringLiteral("PreviewWidget"));
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    setPageLayout(m_layout);
}

void PageView::setPageLayout(const QPageLayout &layout)
{
    const int page = pageAtTop();
    m_layout = layout;
    m_layout.setMargins(m_report.margins());
    m_layout.setUnits(QPageLayout::Millimeter);
    try {
        m_pages = m_report.layOutFor(m_layout);
    } catch (const Error &error) {
        qWarning().noquote() << "report not laid out:" << error.message();
        m_pages = 0;
    }
    m_held.clear();
    if (m_fitWidth)
        fitToWidth();
    updateRanges();
    setCurrentPage(page);
    viewport()->update();
    emit pageChanged();
}

QSize PageView::pageSize() const
{
    const QSizeF points = m_layout.fullRectPoints().size();
    const qreal pixelsPerPoint = m_zoom * logicalDpiX() / 72.0;
    return QSize(
        std::max(1, qRound(points.width() * pixelsPerPoint)), std::max(1, qRound(points.height() * pixelsPerPoint)));
}

int PageView::pageTop(int page) const
{
    return kGap + (page - 1) * (pageSize().height() + kGap);
}

void PageView::updateRanges()
{
    const QSize page = pageSize();
    const qint64 height = kGap + qint64(m_pages) * (page.height() + kGap);
    const int visible = viewport()->height();
    verticalScrollBar()->setRange(0, int(std::clamp<qint64>(height - visible, 0, INT_MAX)));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(std::max(20, page.height() / 20));
    horizontalScrollBar()->setRange(0, std::max(0, page.width() + 2 * kGap - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(20);
}

int PageView::currentPage() const
{
    if (m_pages == 0)
        return 0;
    // At the very top the first page is the one shown, however small the pages are drawn.
    if (verticalScrollBar()->value() == 0)
        return 1;
    // The page that fills the upper part of the view.
    return pageAt(verticalScrollBar()->value() + viewport()->height() / 3);
}

int PageView::pageAt(int y) const
{
    return std::clamp((y - kGap) / (pageSize().height() + kGap) + 1, 1, m_pages);
}

int PageView::pageAtTop() const
{
    // The page whose top the view shows, kept when the pages are drawn anew at another size.
    return m_pages == 0 ? 1 : pageAt(verticalScrollBar()->value() + kGap);
}

void PageView::setCurrentPage(int page)
{
    if (m_pages == 0)
        return;
    verticalScrollBar()->setValue(pageTop(std::clamp(page, 1, m_pages)) - kGap);
    emit pageChanged();
}

void PageView::setZoom(qreal zoom)
{
    const int page = pageAtTop();
    m_fitWidth = false;
    m_zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    m_held.clear();
    updateRanges();
    setCurrentPage(page);
    viewport()->update();
}

void PageView::fitToWidth()
{
    const int page = pageAtTop();
    m_fitWidth = true;
    const qreal width = m_layout.fullRectPoints().width() * logicalDpiX() / 72.0;
    m_zoom = std::clamp((viewport()->width() - 2 * kGap) / width, kMinZoom, kMaxZoom);
    m_held.clear();
    updateRanges();
    setCurrentPage(page);
    viewport()->update();
}

void PageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_fitWidth)
        fitToWidth();
    else
        updateRanges();
}

void PageView::scrollContentsBy(int, int)
{
    viewport()->update();
    emit pageChanged();
}

QImage PageView::drawn(int page, const QSize &size) const
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    // The picture has the layout's resolution, so that the report's fonts come out as
    // measured; the painter scales it down to the screen.
    const int dotsPerMeter = qRound(kLayoutDpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    const qreal scale = qreal(size.width()) / m_layout.fullRectPixels(kLayoutDpi).width();
    painter.scale(scale, scale);
    painter.translate(m_layout.paintRectPixels(kLayoutDpi).topLeft());
    try {
        m_report.paintPage(painter, page);
    } catch (const Error &error) {
        qWarning().noquote() << "page not drawn:" << page << error.message();
    }
    return image;
}

void PageView::paintEvent(QPaintEvent *)
{
    if (m_pages == 0)
        return;
    QPainter painter(viewport());
    const QSize size = pageSize();
    const int top = verticalScrollBar()->value();
    const int bottom = top + viewport()->height();
    const int x = size.width() + 2 * kGap <= viewport()->width() ? (viewport()->width() - size.width()) / 2
                                                                 : kGap - horizontalScrollBar()->value();
    const int first = std::clamp((top - kGap) / (size.height() + kGap) + 1, 1, m_pages);
    QHash<int, QImage> shown;
    for (int page = first; page <= m_pages && pageTop(page) < bottom; ++page) {
        QImage image = m_held.value(page);
        if (image.size() != size)
            image = drawn(page, size);
        const QRect rect(QPoint(x, pageTop(page) - top), size);
        painter.fillRect(rect.translated(3, 3), Qt::black);
        painter.drawImage(rect.topLeft(), image);
        shown.insert(page, image);
    }
    // Only the pages in view are kept.
    m_held = std::move(shown);
}

PrintPreviewDialog::PrintPreviewDialog(const QString &title, PagedReport &report, QWidget *parent, Ui *ui)
    : QDialog(parent)
    , m_ownUi(ui ? nullptr : new QtUi)
    , m_ui(ui ? *ui : *m_ownUi)
    , m_report(report)
    , m_printer(new QPrinter(QPrinter::HighResolution))
{
    // Without a printer the pages are laid out for a PDF file, which can still be saved.
    m_printerInstalled = !m_ui.printers().isEmpty();
    if (!m_printerInstalled)
        m_printer->setOutputFormat(QPrinter::PdfFormat);
    setObjectName(QStringLiteral("PrintPreview"));
    setWindowTitle(title);
    setWindowModality(Qt::ApplicationModal);
    m_printer->setColorMode(QPrinter::Color);
    m_printer->setDocName(title);
    m_view = new PageView(report, this);

    auto *pageLabel = new QLabel(this);
    pageLabel->setObjectName(QStringLiteral("PageLabel"));
    auto showPage = [this, pageLabel] {
        pageLabel->setText(QStringLiteral("第%1页 / 共%2页").arg(m_view->currentPage()).arg(m_view->pageCount()));
    };
    connect(m_view, &PageView::pageChanged, this, showPage);
    showPage();
    struct Button {
        const char *name;
        const char *caption;
        std::function<void()> action;
    };
    // Paging and zoom first; the orientation, printing and closing after them.
    const QVector<Button> viewing = {
        { "FirstPage", "首页", [this] { m_view->setCurrentPage(1); } },
        { "PriorPage", "上一页", [this] { m_view->setCurrentPage(m_view->currentPage() - 1); } },
        { "NextPage", "下一页", [this] { m_view->setCurrentPage(m_view->currentPage() + 1); } },
        { "LastPage", "末页", [this] { m_view->setCurrentPage(m_view->pageCount()); } },
        { "ZoomIn", "放大", [this] { m_view->setZoom(m_view->zoom() * kZoomStep); } },
        { "ZoomOut", "缩小", [this] { m_view->setZoom(m_view->zoom() / kZoomStep); } },
        { "FitWidth", "适合页宽", [this] { m_view->fitToWidth(); } },
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
    orientation->setCurrentIndex(report.orientation() == QPageLayout::Landscape ? 1 : 0);
    auto *orientationLabel = new QLabel(QStringLiteral("纸张方向(&O)："), this);
    orientationLabel->setBuddy(orientation);
    connect(orientation, &QComboBox::currentIndexChanged, this, [this](int index) {
        QPageLayout layout = m_view->pageLayout();
        layout.setOrientation(index == 1 ? QPageLayout::Landscape : QPageLayout::Portrait);
        m_view->setPageLayout(layout);
    });

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
    layout->addWidget(m_view, 1);
    resize(std::max(900, minimumSizeHint().width()), 700);
    ScreenFit::fit(this);
}

PrintPreviewDialog::~PrintPreviewDialog()
{
    delete m_printer;
}

bool PrintPreviewDialog::runPages(QPagedPaintDevice &device, int from, int to, const QString &label)
{
    m_stopped = false;
    QProgressDialog progress(label, QStringLiteral("取消"), 0, 1, this);
    progress.setObjectName(QStringLiteral("PrintProgress"));
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    // Esc closes the panel; that stops the run as the button does.
    connect(&progress, &QDialog::rejected, &progress, &QProgressDialog::cancel);
    progress.setValue(0);
    PrintOutcome outcome = PrintOutcome::Failed;
    // Drawing reads the report's rows, which may fail; nothing must pass out of here into Qt.
    try {
        outcome = printReport(m_report, device, from, to, [&progress](int done, int total) {
            progress.setMaximum(total);
            progress.setLabelText(progress.labelText().section(QLatin1Char('\n'), 0, 0)
                + QStringLiteral("\n第%1页 / 共%2页").arg(done).arg(total));
            progress.setValue(done);
            return !progress.wasCanceled();
        });
    } catch (const Error &error) {
        qWarning().noquote() << "report not drawn:" << error.message();
    } catch (const std::exception &error) {
        qWarning().noquote() << "report not drawn:" << QString::fromLocal8Bit(error.what());
    }
    m_stopped = outcome == PrintOutcome::Stopped;
    // A printer with other paper laid the report out for it; the preview goes back to its pages.
    m_view->setPageLayout(m_view->pageLayout());
    return outcome == PrintOutcome::Done;
}

void PrintPreviewDialog::print()
{
    if (!m_printerInstalled) {
        m_ui.showMessage(QStringLiteral("对不起,没安装打印机不能打印该文档!"));
        return;
    }
    m_printer->setPageOrientation(m_view->pageLayout().orientation());
    m_printer->setFromTo(0, 0);
    QPrintDialog dialog(m_printer, this);
    dialog.setMinMax(1, std::max(1, m_view->pageCount()));
    dialog.setOption(QAbstractPrintDialog::PrintPageRange);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const bool range = m_printer->printRange() == QPrinter::PageRange;
    if (!runPages(*m_printer, range ? m_printer->fromPage() : 0, range ? m_printer->toPage() : 0,
            QStringLiteral("正在打印……"))
        && m_stopped)
        m_printer->abort();
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
        writer.setPageLayout(m_view->pageLayout());
        if (!runPages(writer, 0, 0, QStringLiteral("正在保存PDF……"))) {
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
    // It starts where the exports go, as the export's dialog does.
    QString path = windowTitle();
    int entry = 1;
    if (!m_ui.saveFile(
            QStringLiteral("保存为PDF"), m_ui.exportFolder(), QStringLiteral("PDF 文件 (*.pdf)|*.pdf"), path, entry)
        || path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    Cause cause = Cause::Unknown;
    if (savePdf(path, &cause))
        m_ui.showExported(path);
    else if (!m_stopped)
        m_ui.showError(withCause(QStringLiteral("无法保存文件 %1").arg(QDir::toNativeSeparators(path)), cause));
}

} // namespace dagl
