#pragma once

#include <QString>

namespace dagl {

// An INI file read and written by the rules of the Windows profile functions: the file is
// in the GBK code page (UTF-8 when it begins with a UTF-8 byte order mark), section and
// key names match without regard to letter case, a read gives at most 2,047 characters
// and never creates anything, and a write stores one value at once, creating the file
// and the section when needed and keeping every other line byte for byte.
class IniFile {
public:
    static constexpr int kMaxValueLength = 2047;

    explicit IniFile(QString path)
        : m_path(std::move(path))
    {
    }
    // The per-installation settings file, myini.ini in the program folder.
    static IniFile settingsOf(const QString &programFolder);

    const QString &path() const { return m_path; }

    QString read(const QString &section, const QString &key, const QString &defaultValue = {}) const;
    // Throws dagl::Error("Unable to write to <path>", the cause on the next line) when the
    // file cannot be written whole; the file is then as it was.
    void write(const QString &section, const QString &key, const QString &value) const;

private:
    QString m_path;
};

} // namespace dagl
