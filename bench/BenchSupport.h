#pragma once

#include "Ui.h"

#include <fstream>
#include <string>

namespace dagl::bench {

// A memory figure of this process from /proc/self/status, in KiB: "VmRSS:" now,
// "VmHWM:" at its peak.
inline long statusKb(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string wanted(key);
    while (std::getline(status, line)) {
        if (line.rfind(wanted, 0) == 0)
            return std::stol(line.substr(wanted.size()));
    }
    return 0;
}

// A seam that shows nothing and answers every question with OK or "no file": the benches
// only read.
class SilentUi : public Ui {
public:
    Answer messageBox(const QString &, const QString &, Icon, Buttons) override { return Answer::Ok; }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString existingFolder(const QString &, const QString &) override { return {}; }
    bool saveFile(const QString &, const QString &, const QString &, QString &, int &) override { return false; }
    void printPreview(QWidget *, const QString &, PagedReport &) override { }
    bool shellOpen(const QString &) override { return false; }
    QStringList printers() override { return {}; }
    QStringList inputMethods() override { return {}; }
    void switchInputMethod(QWidget *, const QString &) override { }
    void requestQuit() override { }
};

} // namespace dagl::bench
