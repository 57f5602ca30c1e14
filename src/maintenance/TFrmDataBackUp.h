#pragma once

#include <QDialog>
#include <QListWidget>

class QComboBox;
class QLabel;

namespace dagl {

class TDataModule5;
class Ui;

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
};

} // namespace dagl
