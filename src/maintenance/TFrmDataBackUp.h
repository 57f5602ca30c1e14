#pragma once

#include "BusyCursor.h"
#include "DatabaseFile.h"
#include "Ui.h"

#include <QDialog>
#include <QListWidget>

#include <memory>

class QComboBox;
class QLabel;

namespace dagl {

class TDataModule5;

// The busy cursor and the progress panel while a copy or a compaction runs. The panel first
// shows a busy bar, which also lets the windows repaint where the box or the menu that
// started the work was; then it follows the work, and its 取消 stops it.
class WorkProgress {
public:
    WorkProgress(Ui &ui, const QString &label)
        : m_panel(ui.progress(label))
    {
        m_panel->step(0, 0);
    }
    DatabaseFile::Progress callback() const
    {
        Ui::Progress *panel = m_panel.get();
        return [panel](qint64 done, qint64 total) { return panel->step(done, total); };
    }

private:
    BusyCursor m_cursor;
    std::unique_ptr<Ui::Progress> m_panel;
};

// A list of folders in the manner of a classic directory box: the current folder's
// ancestors from the drive down, the current folder, then its sub-folders. Activating an
// entry (double click, Enter) makes it the current folder.
class DirectoryListBox : public QListWidget {
    Q_OBJECT

public:
    explicit DirectoryListBox(QWidget *parent = nullptr);
    const QString &directory() const { return m_directory; }
    void setDirectory(const QString &path);

signals:
    void directoryChanged(const QString &path);

private:
    QString m_directory;
};

// The backup and restore window. In backup mode ("0") the database is copied into the
// chosen folder under the day's name; in restore mode ("1") the chosen copy replaces the
// live database and the program ends.
class TFrmDataBackUp : public QDialog {
    Q_OBJECT

public:
    TFrmDataBackUp(TDataModule5 &dm, Ui &ui, const QString &backupMode, QWidget *parent = nullptr);

    // Both give why they failed in `cause` (Chinese, empty when there is nothing to add).
    bool SaveDatabaseAsDateTime(const QString &folder, QString *cause = nullptr);
    bool BackDatabaseByDateTime(QString *cause = nullptr);
    // Compacts the live database and says how it went; needs no window.
    static void CompactDatabase(TDataModule5 &dm, Ui &ui);

    void BitBtn1Click(); // 确定
    void BitBtn2Click(); // 取消

    // The current folder of the folder list, and whether a restore succeeded (the program
    // is then ending).
    QString currentFolder() const;
    void setCurrentFolder(const QString &path);
    bool restored() const { return m_restored; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    void DriveComboBox1Change();
    void fillFileList();

    TDataModule5 &m_dm;
    Ui &m_ui;
    QString m_mode;
    QLabel *m_prompt;
    QComboBox *m_drives;
    DirectoryListBox *m_folders;
    QListWidget *m_files;
    bool m_restored = false;
    // Why the BACKUP folder could not be made, and the folder shown instead of it.
    QString m_folderProblem;
    QString m_fallbackFolder;
};

} // namespace dagl
