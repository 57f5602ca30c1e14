#pragma once

#include <QByteArray>
#include <QStringList>

namespace dagl::InputMethods {

// The input method a Chinese workstation offers first; always present in the built-in list.
inline const QString kDefaultChinese = QStringLiteral("中文 (简体) - 全拼");

// The input methods installed on this system, by display name, where the system can list
// them (IBus); otherwise a built-in list of the usual ones. The system is asked once per
// run; later calls give the same list at once.
QStringList installed();
QStringList builtIn();

// The display names in the output of "ibus list-engine": lines "  <engine id> - <name>"
// grouped under "language: ..." headers.
QStringList parseEngineList(const QByteArray &output);

} // namespace dagl::InputMethods
