#pragma once

#include <QStringList>

namespace dagl::InputMethods {

// The input method a Chinese workstation offers first; always present in the built-in list.
inline const QString kDefaultChinese = QStringLiteral("中文 (简体) - 全拼");

// The input methods installed on this system, by display name, where the system can list
// them (IBus); otherwise a built-in list of the usual ones.
QStringList installed();
QStringList builtIn();

} // namespace dagl::InputMethods
