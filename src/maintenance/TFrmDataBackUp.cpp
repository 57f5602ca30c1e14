#include "TFrmDataBackUp.h"

#include "Backup.h"
#include "Error.h"
#include "ProgramFolder.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

namespace dagl {

namespace {

const QString kBackupFolder = QStringLiteral("BACKUP");

QString driveOf(const QString &path)
{
    const QString absolute = QDir(path).absolutePath();
    const QFileInfoList drives = QDir::drives();
    QString best;
    for (const QFileInfo &drive : drives) {
        const QString root = drive.absoluteFilePath();
        if (absolute.startsWith(root, Qt::CaseInsensitive) && root.size() > best.size())
            best = root;
    }
    return best;
}

} // namespace

DirectoryListBox::DirectoryListBox(QWidget *parent)
    : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this,
        [this](QListWidgetItem *item) { setDirectory(item->data(Qt::UserRole).toString()); });
}

void DirectoryListBox::setDirectory(const QString &path)
{
    const QDir dir(path);
    if (!dir.exists())
        return;
    m_directory = dir.absolutePath();
    clear();
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    // The chain of folders from the drive down to the current one, each indented below
    // the one before; then the current folder's own sub-folders.
    QStringList chain;
    for (QDir up(m_directory);;) {
        chain.prepend(up.absolutePath());
        if (!up.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &folder : chain) {
        const QString name = depth == 0 ? folder : QFileInfo(folder).fileName();
        auto *item = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(Qt::UserRole, folder);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QFileInfoList children = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &child : children) {
        auto *item = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + child.fileName(), this);
        item->setData(Qt::UserRole, child.absoluteFilePath());
    }
    emit directoryChanged(m_directory);
}

TFrmDataBackUp::TFrmDataBackUp(TDataModule5 &dm, Ui &ui, const QString &backupMode, QWidget *parent)
    : QDialog(parent)
    , m_dm(dm)
    , m_ui(ui)
    , m_mode(backupMode)
{
    setObjectName(QStringLiteral("FrmDataBackUp"));
    setWindowTitle(backupMode == QLatin1String("1") ? QStringLiteral("数据库恢复") : QStringLiteral("数据库备份"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);

    m_prompt = new QLabel(this);
    m_prompt->setObjectName(QStringLiteral("Label1"));
    m_drives = new QComboBox(this);
    m_drives->setObjectName(QStringLiteral("DriveComboBox1"));
    const QFileInfoList drives = QDir::drives();
    for (const QFileInfo &drive : drives)
        m_drives->addItem(drive.absoluteFilePath());
    m_folders = new DirectoryListBox(this);
    m_folders->setObjectName(QStringLiteral("DirectoryListBox1"));
    m_files = new QListWidget(this);
    m_files->setObjectName(QStringLiteral("FileListBox1"));
    m_files->setSelectionMode(QAbstractItemView::SingleSelection);

    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    for (QPushButton *button : { ok, cancel })
        button->setAutoDefault(false);

    auto *lists = new QHBoxLayout;
    lists->addWidget(m_folders, 3);
    lists->addWidget(m_files, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addSpacing(16);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_drives);
    layout->addLayout(lists, 1);
    layout->addLayout(buttons);
    setFixedSize(460, 360);

    connect(m_drives, &QComboBox::activated, this, &TFrmDataBackUp::DriveComboBox1Change);
    connect(m_folders, &DirectoryListBox::directoryChanged, this, &TFrmDataBackUp::fillFileList);
    connect(ok, &QPushButton::clicked, this, &TFrmDataBackUp::BitBtn1Click);
    connect(cancel, &QPushButton::clicked, this, &TFrmDataBackUp::BitBtn2Click);
    m_folders->setDirectory(QDir::currentPath());
}

void TFrmDataBackUp::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFrmDataBackUp::FormShow()
{
    m_prompt->setText(m_mode == QLatin1String("1") ? QStringLiteral("请选择要进行数据恢复的目录及文件")
                                                   : QStringLiteral("请选择数据备份的目录"));
    m_folderProblem.clear();
    try {
        setCurrentFolder(ProgramFolder::ensureFolder(m_dm.programFolder(), kBackupFolder));
    } catch (const Error &error) {
        // The folder list keeps showing the working folder; a backup is not made there
        // unless the operator chooses it.
        m_folderProblem = QStringLiteral("无法建立备份文件夹：") + error.message();
        m_fallbackFolder = currentFolder();
    }
}

QString TFrmDataBackUp::currentFolder() const
{
    return m_folders->directory();
}

void TFrmDataBackUp::setCurrentFolder(const QString &path)
{
    m_folders->setDirectory(path);
    const int drive = m_drives->findText(driveOf(m_folders->directory()));
    if (drive >= 0)
        m_drives->setCurrentIndex(drive);
}

void TFrmDataBackUp::DriveComboBox1Change()
{
    m_folders->setDirectory(m_drives->currentText());
}

void TFrmDataBackUp::fillFileList()
{
    m_files->clear();
    const QFileInfoList files
        = QDir(m_folders->directory())
              .entryInfoList({ QLatin1Char('*') + Backup::backupSuffix(m_dm.ADOConnection1.onServer()) }, QDir::Files,
                  QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        auto *item = new QListWidgetItem(file.fileName(), m_files);
        item->setData(Qt::UserRole, file.absoluteFilePath());
    }
}

bool TFrmDataBackUp::SaveDatabaseAsDateTime(const QString &folder, QString *cause)
{
    std::unique_ptr<WorkProgress> progress;
    return Backup::saveDatabaseAsDateTime(
        m_dm, folder, QDate::currentDate(),
        [this](const QString &name) {
            return m_ui.messageBox(
                       QStringLiteral("发现相同文件名的数据库文件(") + name + QStringLiteral(")\n是否覆盖?"),
                       QStringLiteral("警告"), Ui::Icon::Warning, Ui::Buttons::YesNo)
                == Ui::Answer::Yes;
        },
        cause,
        // The panel comes up once any question has been answered, when the copy starts.
        [this, &progress](qint64 done, qint64 total) {
            if (!progress)
                progress = std::make_unique<WorkProgress>(m_ui, QStringLiteral("正在备份数据库……"));
            return progress->callback()(done, total);
        });
}

bool TFrmDataBackUp::BackDatabaseByDateTime(QString *cause)
{
    QListWidgetItem *chosen = m_files->currentItem();
    if (!chosen || !chosen->isSelected()) {
        m_ui.inform(QStringLiteral("请选择一个可以恢复的数据库"), QStringLiteral("提示"));
        return false;
    }
    const Backup::RestoreResult result
        = Backup::restore(m_dm, chosen->data(Qt::UserRole).toString(), QDateTime::currentDateTime());
    if (cause)
        *cause = result.cause;
    switch (result.outcome) {
    case Backup::RestoreOutcome::Restored:
        fillFileList();
        return true;
    case Backup::RestoreOutcome::ReopenFailed:
        m_ui.inform(QStringLiteral("在关闭数据库的时候出错"), QStringLiteral("错误"));
        return false;
    case Backup::RestoreOutcome::NotADatabase:
    case Backup::RestoreOutcome::InUse:
    case Backup::RestoreOutcome::CopyFailed:
        break;
    }
    return false;
}

namespace {

// A failure message with the reason under it, when there is one.
QString withReason(const QString &message, const QString &reason)
{
    return reason.isEmpty() ? message : message + QLatin1Char('\n') + reason;
}

} // namespace

void TFrmDataBackUp::BitBtn1Click()
{
    runHandler(m_ui, [this] {
        QString cause;
        if (m_mode == QLatin1String("1")) {
            if (!BackDatabaseByDateTime(&cause)) {
                m_ui.inform(withReason(QStringLiteral("数据恢复失败!"), cause), QStringLiteral("错误"));
                return;
            }
            m_restored = true;
            m_ui.inform(QStringLiteral("数据恢复成功\n请重新运行程序!"), QStringLiteral("提示"));
            // The program ends at once: no exit question, exit record or exit copy.
            m_ui.requestQuit();
            accept();
            return;
        }
        if (!m_folderProblem.isEmpty() && currentFolder() == m_fallbackFolder) {
            m_ui.inform(withReason(QStringLiteral("数据备份失败！"), m_folderProblem), QStringLiteral("错误"));
            return;
        }
        if (SaveDatabaseAsDateTime(currentFolder(), &cause)) {
            fillFileList();
            m_ui.inform(QStringLiteral("数据备份成功！"), QStringLiteral("提示"));
        } else {
            m_ui.inform(withReason(QStringLiteral("数据备份失败！"), cause), QStringLiteral("错误"));
        }
    });
}

void TFrmDataBackUp::BitBtn2Click()
{
    reject();
}

void TFrmDataBackUp::CompactDatabase(TDataModule5 &dm, Ui &ui)
{
    QString cause;
    Backup::CompactOutcome outcome;
    {
        const WorkProgress progress(ui, QStringLiteral("正在整理数据库……"));
        outcome = Backup::compactDatabase(dm, &cause, {}, progress.callback());
    }
    switch (outcome) {
    case Backup::CompactOutcome::Compacted:
        ui.inform(QStringLiteral("数据整理完毕!"), QStringLiteral("提示"));
        break;
    case Backup::CompactOutcome::RowsPending:
        ui.inform(QStringLiteral("请先保存或取消正在编辑的记录，再整理数据库!"), QStringLiteral("提示"));
        break;
    case Backup::CompactOutcome::InUse:
        // Nothing was touched: the program goes on as it was.
        ui.inform(withReason(QStringLiteral("现在不能整理数据库!"), cause), QStringLiteral("提示"));
        break;
    case Backup::CompactOutcome::Failed:
        ui.inform(withReason(QStringLiteral("数据整理出现异常,请重新启动软件!"), cause), QStringLiteral("提示"));
        break;
    case Backup::CompactOutcome::Stopped:
        ui.inform(QStringLiteral("数据整理已取消，数据库没有改变。"), QStringLiteral("提示"));
        break;
    }
}

} // namespace dagl
