#include "TFrm_zdsjdr.h"

#include "BusyCursor.h"
#include "DBGridEh.h"
#include "Error.h"
#include "ExcelWorkbook.h"
#include "IniFile.h"
#include "ScreenFit.h"
#include "SingleWindow.h"
#include "TDataModule5.h"
#include "Ui.h"
#include "WorksheetModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <exception>

namespace dagl {

namespace {

const QString kErrorTail = QStringLiteral("---请将错误信息反馈给管理员");
const QString kNoSheet
    = QStringLiteral("   excel文件打开失败，注意excel文件表名必须是sheet1，或者英文名称---请将错误信息反馈给管理员");
// Both workbook formats together, then each alone.
const QString kWorkbookFilter
    = QStringLiteral("Excel文件(*.xls *.xlsx);;Excel 97-2003工作簿(*.xls);;Excel工作簿(*.xlsx)");
const QString kNoWorkbook = QStringLiteral("请先点击“选择Excel文件”打开要导入的Excel文件");
constexpr int kColumnWidth = 120;
// After a commit whose answer the lost connection swallowed.
const QString kStoredBeforeLost = QStringLiteral("已重新连接到数据库服务器。连接断开前这批数据已经全部导入。");
const QString kImportAgain
    = QStringLiteral("已重新连接到数据库服务器。连接断开前这批数据没有导入，没有保存任何记录，请再导入一次。");
const QString kNotKnown = QStringLiteral(
    "与数据库服务器的连接断开了，不能确定这批数据是否已经导入。请在连接恢复后查看数据录入列表，再决定是否重新导入。");
const QString kImportNote = QStringLiteral("正在处理字典数据导入，请稍等，可能需要几分钟......");
const QString kReadNote = QStringLiteral("正在读取Excel文件，请稍等......");
// A read this short shows no panel: it would only flicker.
constexpr int kPanelDelayMs = 300;
// Alt+key of each mapping row, in table order; the buttons have F, T, A and C.
const char kRowKeys[] = "1234567890BDEGHIJKLMNPQR";
static_assert(sizeof kRowKeys - 1 == 24, "one key for each mapping row");

QPushButton *button(const char *name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

TFrm_zdsjdr::TFrm_zdsjdr(TDataModule5 &dm, Ui &ui, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("Frm_zdsjdr"));
    setWindowTitle(QStringLiteral("数据批量导入"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::WindowStaysOnTopHint);

    auto *choose = button("Button1", QStringLiteral("选择Excel文件(&F)"), this);
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("Edit1"));
    m_path->setReadOnly(true);
    m_path->setAccessibleName(QStringLiteral("Excel文件"));
    m_note = new QLabel(QStringLiteral("注意excel文件表名必须是sheet1，或者英文名称"), this);
    m_note->setObjectName(QStringLiteral("Label15"));
    auto *top = new QHBoxLayout;
    top->addWidget(choose);
    top->addWidget(m_path, 1);

    // The preview grid with the progress panel laid over it.
    auto *previewArea = new QWidget(this);
    auto *overlay = new QGridLayout(previewArea);
    overlay->setContentsMargins(0, 0, 0, 0);
    m_model = new WorksheetModel(this);
    m_grid = new QTableView(previewArea);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    takeOneTabStop(m_grid);
    m_grid->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
    m_grid->verticalHeader()->setDefaultSectionSize(22);
    overlay->addWidget(m_grid, 0, 0);
    m_panel = new QFrame(previewArea);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    static_cast<QFrame *>(m_panel)->setFrameShape(QFrame::StyledPanel);
    m_panel->setAutoFillBackground(true);
    m_panel->setFixedSize(520, 90);
    auto *panelLayout = new QVBoxLayout(m_panel);
    m_panelLabel = new QLabel(kImportNote, m_panel);
    m_panelLabel->setObjectName(QStringLiteral("Label14"));
    QPalette blueText = m_panelLabel->palette();
    blueText.setColor(QPalette::WindowText, Qt::blue);
    m_panelLabel->setPalette(blueText);
    m_bar = new QProgressBar(m_panel);
    m_bar->setObjectName(QStringLiteral("ProgressBar1"));
    m_bar->setTextVisible(false);
    QPalette blueBar = m_bar->palette();
    blueBar.setColor(QPalette::Highlight, Qt::blue);
    m_bar->setPalette(blueBar);
    m_cancel = button("CancelButton", QStringLiteral("取消"), m_panel);
    auto *barLine = new QHBoxLayout;
    barLine->addWidget(m_bar, 1);
    barLine->addWidget(m_cancel);
    panelLayout->addWidget(m_panelLabel);
    panelLayout->addLayout(barLine);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelRequested = true; });
    overlay->addWidget(m_panel, 0, 0, Qt::AlignCenter);
    m_panel->hide();

    // The 24 mapping rows, three to a line.
    auto *fields = new QGroupBox(QStringLiteral("选择批量导入字段"), this);
    auto *grid = new QGridLayout(fields);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(4);
    QStringList choices;
    for (int n = 1; n <= 30; ++n)
        choices << QString::number(n);
    const auto &columns = importColumns();
    for (size_t i = 0; i < columns.size(); ++i) {
        const ImportColumn &column = columns[i];
        const QString name = QString::fromUtf8(column.label);
        auto *tick = new QCheckBox(fields);
        tick->setObjectName(QStringLiteral("CheckBox%1").arg(column.control));
        tick->setAccessibleName(name);
        auto *box = new QComboBox(fields);
        box->setObjectName(QStringLiteral("ComboBox%1").arg(column.control));
        box->setEditable(true);
        box->addItems(choices);
        box->setEditText(QString());
        box->setFixedWidth(56);
        box->setAccessibleName(name + QStringLiteral("对应表格第几列"));
        auto *label = new QLabel(name + QStringLiteral("(&%1)  对应表格第").arg(QLatin1Char(kRowKeys[i])), fields);
        label->setBuddy(tick); // Alt+key ticks or unticks the row, as a check box's own key does
        const int line = int(i) / 3;
        const int at = int(i) % 3 * 5;
        grid->addWidget(tick, line, at);
        grid->addWidget(label, line, at + 1);
        grid->addWidget(box, line, at + 2);
        grid->addWidget(new QLabel(QStringLiteral("列"), fields), line, at + 3);
        grid->setColumnMinimumWidth(at + 4, 24);
        m_ticks[i] = tick;
        m_boxes[i] = box;
    }

    m_memo = new QPlainTextEdit(this);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setAccessibleName(QStringLiteral("导入失败记录"));
    auto *memoLabel = new QLabel(QStringLiteral("导入失败记录(&Y)"), this);
    memoLabel->setBuddy(m_memo);
    auto *results = new QHBoxLayout;
    results->addWidget(memoLabel, 0, Qt::AlignTop);
    results->addWidget(m_memo, 1);

    auto *testOne = button("Button2", QStringLiteral("导入一条测试(&T)"), this);
    auto *importAllButton = button("Button3", QStringLiteral("全部导入(&A)"), this);
    auto *closeButton = button("Button4", QStringLiteral("关闭(&C)"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton *b : { testOne, importAllButton, closeButton }) {
        buttons->addWidget(b);
        buttons->addSpacing(16);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_note);
    layout->addWidget(previewArea, 1);
    layout->addWidget(fields);
    layout->addLayout(results);
    layout->addLayout(buttons);
    m_memo->setFixedHeight(90);
    setFixedSize(900, 720);

    connect(choose, &QPushButton::clicked, this, &TFrm_zdsjdr::Button1Click);
    connect(testOne, &QPushButton::clicked, this, &TFrm_zdsjdr::Button2Click);
    connect(importAllButton, &QPushButton::clicked, this, &TFrm_zdsjdr::Button3Click);
    connect(closeButton, &QPushButton::clicked, this, &TFrm_zdsjdr::Button4Click);
}

TFrm_zdsjdr::~TFrm_zdsjdr()
{
    m_model->setWorkbook(nullptr);
}

TFrm_zdsjdr *TFrm_zdsjdr::instance(TDataModule5 &dm, Ui &ui, QWidget *owner)
{
    if (auto *found = findSingleWindow<TFrm_zdsjdr>(QStringLiteral("Frm_zdsjdr")))
        return found;
    return new TFrm_zdsjdr(dm, ui, owner);
}

ImportMapping TFrm_zdsjdr::mapping() const
{
    ImportMapping result;
    for (size_t i = 0; i < m_ticks.size(); ++i)
        result.push_back({ m_ticks[i]->isChecked(), m_boxes[i]->currentText() });
    return result;
}

void TFrm_zdsjdr::setMapping(const ImportMapping &mapping)
{
    for (size_t i = 0; i < m_ticks.size() && int(i) < mapping.size(); ++i) {
        m_ticks[i]->setChecked(mapping[int(i)].ticked);
        m_boxes[i]->setEditText(mapping[int(i)].columnText);
    }
}

void TFrm_zdsjdr::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        ScreenFit::fit(this);
        runHandler(m_ui, [this] { FormShow(); });
    }
}

void TFrm_zdsjdr::FormShow()
{
    m_path->clear();
    setMapping(ImportSettings::load(IniFile::settingsOf(m_dm.programFolder())));
    openTarget();
}

void TFrm_zdsjdr::openTarget()
{
    // Only takes new rows: reads none of the catalogue, and one prepared insert serves all.
    m_dm.Twjml.setAppendOnly(true);
    m_dm.Twjml.open();
}

void TFrm_zdsjdr::rereadRecordList()
{
    m_dm.Tsyyp.close();
    m_dm.Tsyyp.open();
}

void TFrm_zdsjdr::FormClose()
{
    // A settings file that cannot be written must not keep the window open: the mapping
    // is simply not kept, and the operator is told once.
    const IniFile settings = IniFile::settingsOf(m_dm.programFolder());
    try {
        ImportSettings::save(settings, mapping());
    } catch (const Error &error) {
        m_ui.inform(
            QStringLiteral("无法保存设置文件 %1：%2").arg(QFileInfo(settings.path()).fileName(), error.message()),
            QStringLiteral("错误"));
    }
}

void TFrm_zdsjdr::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        // Closing during a read or a full import cancels it; the window closes when the run
        // has ended.
        m_cancelRequested = true;
        m_closeAfterRun = true;
        event->ignore();
        return;
    }
    m_closeAfterRun = false;
    FormClose();
    event->accept();
}

void TFrm_zdsjdr::reject()
{
    close(); // Esc closes as the close box does, saving the mapping
}

void TFrm_zdsjdr::Button4Click()
{
    close();
}

bool TFrm_zdsjdr::requireWorkbook()
{
    if (m_running)
        return false;
    if (!m_workbook) {
        m_ui.showMessage(kNoWorkbook);
        return false;
    }
    return true;
}

int TFrm_zdsjdr::currentSheetRow() const
{
    const QModelIndex current = m_grid->currentIndex();
    return current.isValid() ? current.row() : (m_model->rowCount() > 0 ? 0 : -1);
}

void TFrm_zdsjdr::Button1Click()
{
    if (m_running)
        return;
    runHandler(m_ui, [this] {
        const QString path = m_ui.openFileName(QStringLiteral("打开"), QString(), kWorkbookFilter);
        if (path.isEmpty())
            return;
        // A workbook that cannot be read leaves the window as it was.
        std::unique_ptr<ExcelWorkbook> workbook = readWorkbook(path);
        if (!workbook)
            return; // cancelled
        const QStringList tables = workbook->tableNames();
        if (tables.isEmpty()) {
            m_ui.showMessage(QStringLiteral("工作簿中没有工作表") + kNoSheet);
            return;
        }

        m_path->setText(path);
        m_model->setWorkbook(workbook.get());
        m_workbook = std::move(workbook);
        for (int c = 0; c < m_model->columnCount(); ++c)
            m_grid->setColumnWidth(c, kColumnWidth);
        if (m_model->rowCount() > 0)
            m_grid->setCurrentIndex(m_model->index(0, 0));
        m_note->setText(QStringLiteral("共有%1条记录").arg(m_workbook->rowCount()));
    });
}

std::unique_ptr<ExcelWorkbook> TFrm_zdsjdr::readWorkbook(const QString &path)
{
    // Read on a thread of its own: a large or hostile workbook takes seconds, and the window
    // keeps answering, with the panel and 取消 after a moment.
    auto workbook = std::make_unique<ExcelWorkbook>();
    std::exception_ptr failure;
    WorkbookLimits limits;
    limits.cancel = &m_cancelRequested; // 取消 and the close box stop the reader
    ExcelWorkbook *book = workbook.get();
    QThread *reader = QThread::create([book, path, limits, &failure] {
        try {
            book->open(path, limits);
            // The first worksheet, or the named range that comes first: a worksheet's name
            // is given in square brackets, as a statement would.
            const QStringList tables = book->tableNames();
            if (!tables.isEmpty()) {
                QString table = tables.first();
                if (table.contains(QLatin1Char('$')))
                    table = QLatin1Char('[') + table + QLatin1Char(']');
                book->selectTable(table);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    QEventLoop waiting;
    connect(reader, &QThread::finished, &waiting, &QEventLoop::quit);
    m_running = true;
    m_cancelRequested = false;
    QTimer panelDelay;
    panelDelay.setSingleShot(true);
    connect(&panelDelay, &QTimer::timeout, this, [this] { showPanel(kReadNote, 0); });
    panelDelay.start(kPanelDelayMs);
    {
        const BusyCursor busy;
        reader->start();
        waiting.exec();
    }
    reader->wait();
    delete reader;
    m_panel->hide();
    m_running = false;
    const bool cancelled = m_cancelRequested;
    if (m_closeAfterRun)
        QTimer::singleShot(0, this, &QWidget::close);
    if (cancelled)
        return {};
    if (failure)
        std::rethrow_exception(failure);
    return workbook;
}

void TFrm_zdsjdr::showPanel(const QString &note, int rows)
{
    m_panelLabel->setText(note);
    m_bar->setRange(0, rows); // none: a bar that shows only that work goes on
    m_bar->setValue(0);
    m_panel->show();
    m_panel->raise();
    m_cancel->setFocus(Qt::OtherFocusReason);
}

void TFrm_zdsjdr::Button2Click()
{
    if (!requireWorkbook())
        return;
    m_memo->clear();
    try {
        const int row = currentSheetRow();
        if (row < 0)
            throw Error(QStringLiteral("工作表中没有数据行"));
        Dataset &target = m_dm.Twjml;
        if (!target.isOpen())
            openTarget();
        const ImportPlan plan(mapping(), m_workbook->columnCount(), target);
        // A mapping that names no column is the cause whatever the row holds.
        if (!plan.fault().isEmpty())
            throw Error(plan.fault());
        const auto cell = [&](int column) { return m_workbook->cell(row, column); };
        if (plan.isBlank(cell))
            throw Error(QStringLiteral("第%1行是空行，没有可导入的内容").arg(row + 2));
        const auto collisions = findNumberCollisions(plan, *m_workbook, m_dm.codeSettings(), row);
        if (!collisions.isEmpty()) {
            m_memo->appendPlainText(collisions.first().line);
            if (m_ui.messageBox(collisionQuestion(1), QStringLiteral("提示"), Ui::Icon::Warning, Ui::Buttons::YesNo)
                != Ui::Answer::Yes) {
                m_memo->appendPlainText(QStringLiteral("没有导入这条记录。"));
                return;
            }
        }
        target.append();
        try {
            plan.fill(cell);
            target.post();
        } catch (...) {
            target.cancel(); // nothing of a failed row stays pending
            throw;
        }
        // The title is read after the save: a fault here leaves the record saved.
        const int titleColumn = ImportPlan::columnOf(m_boxes[8]->currentText(), m_workbook->columnCount());
        m_memo->appendPlainText(
            QStringLiteral("题名：") + ExcelWorkbook::textOf(cell(titleColumn)) + QStringLiteral("导入成功！"));
    } catch (const Error &error) {
        m_memo->appendPlainText(error.message() + kErrorTail);
    }
    runHandler(m_ui, [this] { rereadRecordList(); });
}

bool TFrm_zdsjdr::askAboutNumbers(QSet<int> &leaveOut, QStringList &lines)
{
    try {
        Dataset &target = m_dm.Twjml;
        if (!target.isOpen() || !target.isAppendOnly())
            openTarget();
        const ImportPlan plan(mapping(), m_workbook->columnCount(), target);
        QVector<NumberCollision> collisions;
        {
            const BusyCursor busy;
            collisions = findNumberCollisions(plan, *m_workbook, m_dm.codeSettings());
        }
        if (collisions.isEmpty())
            return true;
        for (const NumberCollision &collision : collisions)
            lines << collision.line;
        m_memo->setPlainText(lines.join(QLatin1Char('\n')));
        if (m_ui.messageBox(collisionQuestion(int(collisions.size())), QStringLiteral("提示"), Ui::Icon::Warning,
                Ui::Buttons::YesNo)
            == Ui::Answer::Yes) {
            lines.clear(); // stored as they are: no failures
            return true;
        }
        for (const NumberCollision &collision : collisions)
            leaveOut.insert(collision.row);
        return true;
    } catch (const Error &error) {
        m_memo->setPlainText(error.message() + kErrorTail + QStringLiteral("\n导入失败，没有保存任何记录。"));
        m_ui.showError(error.message());
        return false;
    }
}

QString TFrm_zdsjdr::settleLostCommit(const ImportOutcome &outcome)
{
    if (!m_dm.reconnect())
        return kNotKnown; // 取消: nothing can be looked at
    try {
        return importStored(m_dm.Twjml, outcome) ? kStoredBeforeLost : kImportAgain;
    } catch (const Error &error) {
        return kNotKnown + QLatin1Char('\n') + error.message();
    }
}

void TFrm_zdsjdr::Button3Click()
{
    if (!requireWorkbook())
        return;
    // A connection the server dropped is made again before anything is read or stored.
    if (!m_dm.ensureConnected(true))
        return;
    m_memo->clear();
    // Numbers given twice are found before anything is stored; the operator decides.
    QSet<int> leaveOut;
    QStringList duplicateLines;
    if (!askAboutNumbers(leaveOut, duplicateLines))
        return;
    m_running = true;
    m_cancelRequested = false;
    showPanel(kImportNote, m_workbook->rowCount());

    ImportOutcome outcome;
    QString fatal;
    try {
        Dataset &target = m_dm.Twjml;
        if (!target.isOpen() || !target.isAppendOnly())
            openTarget();
        const ImportPlan plan(mapping(), m_workbook->columnCount(), target);
        outcome = importAll(
            plan, *m_workbook,
            [this](int done) {
                m_bar->setValue(done);
                QCoreApplication::processEvents();
                return !m_cancelRequested;
            },
            100, leaveOut);
    } catch (const Error &error) {
        fatal = error.message();
    } catch (const std::exception &error) {
        fatal = QString::fromLocal8Bit(error.what());
    }
    m_panel->hide();
    m_running = false;

    QStringList lines;
    // What a commit whose answer got lost really did, once the connection works again.
    const QString lostNote = fatal.isEmpty() && outcome.answerLost ? settleLostCommit(outcome) : QString();
    const bool storedBeforeLost = lostNote == kStoredBeforeLost;
    if (!lostNote.isEmpty() && !storedBeforeLost) {
        lines << lostNote;
    } else if (!fatal.isEmpty()) {
        lines << fatal + kErrorTail << QStringLiteral("导入失败，没有保存任何记录。");
    } else if (outcome.cancelled) {
        lines << QStringLiteral("导入已取消，没有保存任何记录。");
    } else {
        lines = duplicateLines + outcome.failures;
        if (!lostNote.isEmpty())
            lines << lostNote;
        lines << outcome.summary();
    }
    m_memo->setPlainText(lines.join(QLatin1Char('\n'))); // at once: the list may be long
    runHandler(m_ui, [this] {
        // Drop what a rolled-back run left in the dataset, and show the new rows in the list.
        m_dm.Twjml.close();
        openTarget();
        rereadRecordList();
    });
    if (!lostNote.isEmpty())
        m_ui.showMessage(storedBeforeLost ? lostNote + QLatin1Char('\n') + outcome.summary() : lostNote);
    else if (!fatal.isEmpty())
        m_ui.showError(fatal);
    else if (!outcome.cancelled && !outcome.failures.isEmpty())
        m_ui.showMessage(outcome.summary().chopped(1) + QStringLiteral("，详见“导入失败记录”。"));
    if (m_closeAfterRun)
        close();
}

} // namespace dagl
