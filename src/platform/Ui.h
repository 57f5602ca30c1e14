#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace dagl {

class PagedReport;

// The one way the program talks to the operator outside its own windows: message boxes,
// file dialogs, the shell, printers, input methods and ending the program. The running
// program uses QtUi; tests put in their own to read what is shown and give the answers.
class Ui
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    // YesNoDefaultNo: Enter answers No, for a question whose Yes does what cannot be undone.
    // OkOpenFolder: OK and "打开文件夹(&O)", which answers OpenFolder.
    enum class Buttons { Ok, OkCancel, YesNo, YesNoDefaultNo, OkOpenFolder, RetryCancel };
    enum class Answer { Ok, Cancel, Yes, No, OpenFolder, Retry };

    virtual ~Ui() = default;

    virtual Answer messageBox(const QString &text, const QString &caption, Icon icon, Buttons buttons) = 0;
    virtual QString openFileName(const QString &caption, const QString &folder, const QString &filter) = 0;
    virtual QString existingFolder(const QString &caption, const QString &folder) = 0;
    // A save dialog starting at `fileName` with filter entry `filterIndex` (from 1) chosen;
    // `filter` is a "Text files (*.txt)|*.txt|..." list. It overwrites without asking and
    // starts in the system's default folder when `folder` is missing. False when cancelled;
    // otherwise the chosen name and entry are handed back.
    virtual bool saveFile(const QString &caption, const QString &folder, const QString &filter, QString &fileName,
                          int &filterIndex) = 0;
    // A modal preview of a report, drawn a page at a time, from which it is printed or saved.
    virtual void printPreview(QWidget *parent, const QString &title, PagedReport &report) = 0;
    // The shell's "open" on a file or folder. False when nothing could open it.
    virtual bool shellOpen(const QString &path) = 0;
    virtual QStringList printers() = 0;
    // Display names of the installed input methods, in the order the system gives them.
    virtual QStringList inputMethods() = 0;
    virtual void switchInputMethod(QWidget *field, const QString &name) = 0;
    // Ends the program once control returns to the event loop.
    virtual void requestQuit() = 0;

    // How far a long piece of work is, shown over the active window while it lives.
    class Progress {
    public:
        virtual ~Progress() = default;
        // Shows `done` of `total`; false once the operator has asked to stop. A total of 0
        // is work of unknown size, shown as busy; called often, it keeps the windows painted.
        virtual bool step(qint64 done, qint64 total) = 0;
    };
    // The seam shows nothing unless a running program's seam says otherwise.
    virtual std::unique_ptr<Progress> progress(const QString &label);

    // Says that the connection to the database server broke (`text`) and tries `attempt`
    // (an empty text when it reconnected, else why not) until it works: at once, every few
    // seconds by itself, and when the operator chooses 重试. False when the operator chose
    // 取消; what the windows hold stays as it is either way.
    virtual bool reconnect(const QString &text, const std::function<QString()> &attempt);

    // A plain notice captioned with the application title.
    void showMessage(const QString &text);
    // The standard error notice, for errors no window handles itself.
    void showError(const QString &text);
    // A box with a fixed caption and an information icon.
    void inform(const QString &text, const QString &caption);
    // Where an exported or saved file went: "已导出到 " and its path, with a button that
    // shows its folder.
    // Returns the folder opened on the operator's asking, or an empty string.
    QString showExported(const QString &file);

    // The folder exports and saved reports start in: the program folder's Excel folder,
    // set at start-up; empty until then.
    const QString &exportFolder() const { return m_exportFolder; }
    void setExportFolder(const QString &folder) { m_exportFolder = folder; }

    static QString applicationTitle();
    static void setApplicationTitle(const QString &title);

private:
    QString m_exportFolder;
};

// Runs an event handler; an error it does not handle itself is shown in the standard error
// notice and the handler is abandoned, while the program goes on.
void runHandler(Ui &ui, const std::function<void()> &handler);

// What runHandler does with an error of a lost connection to the database server instead of
// the standard error notice (the data module says so and reconnects); none: the notice.
void setLostConnectionHandler(std::function<void(Ui &ui, const class Error &error)> handler);

} // namespace dagl
