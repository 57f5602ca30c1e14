#include "GridWriters.h"

#include "ByteSink.h"
#include "CheckedSaveFile.h"
#include "DatabaseFile.h"
#include "Error.h"
#include "XlsWriter.h"
#include "XlsxWriter.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <utility>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace dagl {

namespace {

enum class Section { Title, Record, Footer };

// A writer of one of the text-based formats: told the rows one by one, in file order.
class RowWriter {
public:
    explicit RowWriter(ByteSink &sink)
        : m_sink(sink)
    {
    }
    virtual ~RowWriter() = default;
    virtual void begin(const GridTable &) { }
    virtual void row(Section section, const QVector<QString> &texts) = 0;
    virtual void end() { }

protected:
    void put(const char *ascii) { m_sink.write(ascii, qsizetype(std::strlen(ascii))); }
    ByteSink &m_sink;
};

// What a format writes in place of some ASCII characters of a cell; the others are written
// as they are, in UTF-8. A CR directly before an LF is dropped when LF has a replacement, so
// a CR LF line break gives one replacement.
class Escapes {
public:
    Escapes(std::initializer_list<std::pair<char, const char *>> replacements)
    {
        for (const auto &r : replacements)
            m_replacement[uchar(r.first)] = r.second;
    }
    bool any(const QString &text) const
    {
        for (const QChar ch : text)
            if (ch.unicode() < 0x80 && m_replacement[ch.unicode()])
                return true;
        return false;
    }
    void write(ByteSink &sink, const QString &text) const
    {
        const QStringView view(text);
        qsizetype run = 0;
        for (qsizetype i = 0; i < view.size(); ++i) {
            const char16_t c = view.at(i).unicode();
            if (c >= 0x80 || !m_replacement[c])
                continue;
            sink.writeUtf8(view.mid(run, i - run));
            run = i + 1;
            if (c == u'\r' && m_replacement[u'\n'] && i + 1 < view.size() && view.at(i + 1) == u'\n')
                continue;
            sink.write(m_replacement[c], qsizetype(std::strlen(m_replacement[c])));
        }
        sink.writeUtf8(view.mid(run));
    }

private:
    const char *m_replacement[128] = {};
};

const char Bom[] = "\xEF\xBB\xBF";

// Tab-separated text: nothing is quoted, so tabs and line breaks in a cell become blanks.
class TextWriter : public RowWriter {
public:
    using RowWriter::RowWriter;
    void begin(const GridTable &) override { put(Bom); }
    void row(Section, const QVector<QString> &texts) override
    {
        static const Escapes blanks { { '\t', " " }, { '\r', " " }, { '\n', " " } };
        for (int c = 0; c < texts.size(); ++c) {
            if (c > 0)
                put("\t");
            blanks.write(m_sink, texts.at(c));
        }
        put("\r\n");
    }
};

// Comma-separated values: a field holding a comma, quote or line break is quoted, its quotes
// doubled; line breaks inside a quoted field are kept.
class CsvWriter : public RowWriter {
public:
    using RowWriter::RowWriter;
    void begin(const GridTable &) override { put(Bom); }
    void row(Section, const QVector<QString> &texts) override
    {
        // Only asked whether a field holds one of these characters.
        static const Escapes needsQuotes { { ',', "," }, { '"', "\"" }, { '\r', "\r" }, { '\n', "\n" } };
        static const Escapes quoted { { '"', "\"\"" } };
        for (int c = 0; c < texts.size(); ++c) {
            if (c > 0)
                put(",");
            const QString &text = texts.at(c);
            if (!needsQuotes.any(text)) {
                m_sink.writeUtf8(text);
                continue;
            }
            put("\"");
            quoted.write(m_sink, text);
            put("\"");
        }
        put("\r\n");
    }
};

// An HTML5 page with one table: titles in the head, records in the body, the footer row in
// the foot.
class HtmlWriter : public RowWriter {
public:
    using RowWriter::RowWriter;
    void begin(const GridTable &) override
    {
        m_sink.writeUtf8(QStringLiteral(
            "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"
            "<title>数据导出</title>\r\n<style>table{border-collapse:collapse}"
            "th,td{border:1px solid #808080;padding:2px 6px}</style>\r\n</head>\r\n<body>\r\n<table>\r\n"));
    }
    void row(Section section, const QVector<QString> &texts) override
    {
        static const Escapes html { { '&', "&amp;" }, { '<', "&lt;" }, { '>', "&gt;" }, { '"', "&quot;" },
            { '\r', "<br>" }, { '\n', "<br>" } };
        enter(section);
        const char *open = section == Section::Title ? "<th>" : "<td>";
        const char *close = section == Section::Title ? "</th>" : "</td>";
        put("<tr>");
        for (const QString &text : texts) {
            put(open);
            html.write(m_sink, text);
            put(close);
        }
        put("</tr>\r\n");
    }
    void end() override
    {
        enter(m_section == Section::Footer ? Section::Footer : Section::Record);
        put(closing(m_section));
        put("</table>\r\n</body>\r\n</html>\r\n");
    }

private:
    static const char *opening(Section s)
    {
        return s == Section::Title ? "<thead>\r\n" : s == Section::Record ? "<tbody>\r\n" : "<tfoot>\r\n";
    }
    static const char *closing(Section s)
    {
        return s == Section::Title ? "</thead>\r\n" : s == Section::Record ? "</tbody>\r\n" : "</tfoot>\r\n";
    }
    // Moves to the section, opening the ones passed over (an empty body still gets its tags).
    void enter(Section section)
    {
        if (m_started && m_section == section)
            return;
        if (m_started)
            put(closing(m_section));
        for (int s = m_started ? int(m_section) + 1 : int(section); s < int(section); ++s) {
            put(opening(Section(s)));
            put(closing(Section(s)));
        }
        put(opening(section));
        m_section = section;
        m_started = true;
    }

    Section m_section = Section::Title;
    bool m_started = false;
};

// A rich text table, all ASCII: other characters as \uN escapes, so Chinese survives any
// reader's code page.
class RtfWriter : public RowWriter {
public:
    using RowWriter::RowWriter;
    void begin(const GridTable &table) override
    {
        // 宋体 in the GBK bytes a Chinese word processor expects in a font table.
        put("{\\rtf1\\ansi\\ansicpg936\\deff0\\uc1\r\n"
            "{\\fonttbl{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}\r\n"
            "\\paperw16838\\paperh11906\\landscape\\margl1134\\margr1134\\margt1134\\margb1134\r\n");
        // Each row repeats the row definition; it is built once. Borders are set for the row as
        // a whole, which keeps a row's definition short.
        const QByteArray row = "\\trowd\\trgaph60\\trleft0\\trbrdrt\\brdrs\\brdrw10\\trbrdrl\\brdrs\\brdrw10"
                               "\\trbrdrb\\brdrs\\brdrw10\\trbrdrr\\brdrs\\brdrw10\\trbrdrh\\brdrs\\brdrw10"
                               "\\trbrdrv\\brdrs\\brdrw10";
        QByteArray cells;
        int right = 0;
        for (int c = 0; c < table.titles.size(); ++c) {
            int width = displayWidth(table.titles.at(c));
            if (c < table.footer.size())
                width = qMax(width, displayWidth(table.footer.at(c)));
            // The first rows show how wide a column's texts run; a long title wraps instead.
            for (int r = 0; r < qMin(table.rowCount, 50) && table.cell; ++r)
                width = qMax(width, displayWidth(table.cell(r, c)));
            right += qBound(900, width * 100 + 240, 6000);
            cells += "\\cellx" + QByteArray::number(right);
        }
        m_titleStart = row + "\\trhdr" + cells + "\r\n\\pard\\plain\\intbl\\f0\\fs20\\b ";
        m_rowStart = row + cells + "\r\n\\pard\\plain\\intbl\\f0\\fs20 ";
    }
    void row(Section section, const QVector<QString> &texts) override
    {
        m_sink.write(section == Section::Title ? m_titleStart : m_rowStart);
        for (const QString &text : texts) {
            escape(text);
            put("\\cell ");
        }
        put("\\row\r\n");
    }
    void end() override { put("\\pard\\plain\\par\r\n}\r\n"); }

private:
    static int displayWidth(const QString &text)
    {
        int width = 0;
        for (QChar ch : text)
            width += ch.unicode() >= 0x1100 ? 2 : 1;
        return width;
    }
    void escape(const QString &text)
    {
        constexpr qsizetype MaxPerChar = 9; // "\u-32768?"
        const char16_t *s = QStringView(text).utf16();
        qsizetype left = text.size();
        while (left > 0) {
            const qsizetype n = qMin<qsizetype>(left, ByteSink::BlockSize / MaxPerChar);
            char *const out = m_sink.reserve(n * MaxPerChar);
            char *p = out;
            for (qsizetype i = 0; i < n; ++i) {
                const char16_t ch = s[i];
                if (ch >= 0x80) {
                    // \uN with N the UTF-16 unit as a signed 16-bit number, then the fallback.
                    *p++ = '\\';
                    *p++ = 'u';
                    int value = ch;
                    if (ch > 0x7FFF) {
                        *p++ = '-';
                        value = 0x10000 - value;
                    }
                    char digits[5];
                    int count = 0;
                    do {
                        digits[count++] = char('0' + value % 10);
                        value /= 10;
                    } while (value > 0);
                    while (count > 0)
                        *p++ = digits[--count];
                    *p++ = '?';
                } else if (ch == u'\\' || ch == u'{' || ch == u'}') {
                    *p++ = '\\';
                    *p++ = char(ch);
                } else if (ch == u'\t') {
                    p = append(p, "\\tab ");
                } else if (ch == u'\n' || ch == u'\r') {
                    if (ch == u'\r' && i + 1 < left && s[i + 1] == u'\n')
                        continue;
                    p = append(p, "\\line ");
                } else if (ch >= 0x20) {
                    *p++ = char(ch);
                }
            }
            m_sink.commit(p - out);
            s += n;
            left -= n;
        }
    }
    static char *append(char *p, const char *ascii)
    {
        while (*ascii)
            *p++ = *ascii++;
        return p;
    }

    QByteArray m_titleStart;
    QByteArray m_rowStart;
};

// Hands the title row, every record in order and the footer row to the writer.
template <typename Writer> void writeRows(const GridTable &table, ByteSink &sink)
{
    Writer writer(sink);
    writer.begin(table);
    const int columns = int(table.titles.size());
    QVector<QString> texts(table.titles.begin(), table.titles.end());
    writer.row(Section::Title, texts);
    for (int r = 0; r < table.rowCount; ++r) {
        for (int c = 0; c < columns; ++c)
            texts[c] = table.cell(r, c);
        writer.row(Section::Record, texts);
    }
    if (!table.footer.isEmpty()) {
        for (int c = 0; c < columns; ++c)
            texts[c] = c < table.footer.size() ? table.footer.at(c) : QString();
        writer.row(Section::Footer, texts);
    }
    writer.end();
}

struct FormatEntry {
    ExportFormat format;
    void (*write)(const GridTable &, ByteSink &);
};

const FormatEntry Formats[] = {
    { ExportFormat::Text, &writeRows<TextWriter> },
    { ExportFormat::Csv, &writeRows<CsvWriter> },
    { ExportFormat::Html, &writeRows<HtmlWriter> },
    { ExportFormat::Rtf, &writeRows<RtfWriter> },
    { ExportFormat::Xls, [](const GridTable &table, ByteSink &sink) { writeXls(table, sink); } },
    { ExportFormat::Xlsx, [](const GridTable &table, ByteSink &sink) { writeXlsx(table, sink); } },
};

} // namespace

void writeGrid(ExportFormat format, const GridTable &table, QIODevice &device)
{
    const FormatEntry *entry = nullptr;
    for (const FormatEntry &candidate : Formats)
        if (candidate.format == format)
            entry = &candidate;
    if (!entry)
        throw Error(QStringLiteral("不支持的导出格式"));
    if (!device.isWritable())
        throw Error(QStringLiteral("导出目标不可写"));
    if (table.rowCount > 0 && !table.cell)
        throw Error(QStringLiteral("没有可导出的数据"));
    ByteSink sink(&device);
    entry->write(table, sink);
    sink.flush();
}

QString workbookPartName(const QString &path)
{
    return DatabaseFile::sideName(path);
}

namespace {

// The workbook is made whole beside the target under workbookPartName() and then renamed
// into place: no second copy of it is made, and the room that counts is the target's.
void writeWorkbookFile(const GridTable &table, const QString &path)
{
    const QString partial = workbookPartName(path);
    QFile::remove(partial);
    try {
        writeXlsxFile(table, partial);
        QFile written(partial);
        if (!written.open(QIODevice::ReadWrite))
            throw Error(
                causeText(causeOfFileError(written.error())), causeOfFileError(written.error()), written.errorString());
#ifndef Q_OS_WIN
        // On the disk before it takes the target's name.
        if (::fsync(written.handle()) != 0) {
            const Cause cause = causeOfErrno(errno);
            throw Error(causeText(cause), cause, QString::fromLocal8Bit(std::strerror(errno)));
        }
#endif
        DatabaseFile::replace(partial, path);
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
}

} // namespace

void writeGridFile(ExportFormat format, const GridTable &table, const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (format == ExportFormat::Xlsx) {
        if (table.rowCount > 0 && !table.cell)
            throw Error(QStringLiteral("没有可导出的数据"));
        try {
            writeWorkbookFile(table, path);
        } catch (const Error &e) {
            throw Error(QStringLiteral("无法写入导出文件“%1”\n%2").arg(shown, e.message()), e.cause(), e.detail());
        }
        return;
    }
    CheckedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(withCause(QStringLiteral("无法创建导出文件“%1”").arg(shown), file.failure()), file.failure(),
            file.errorString());
    try {
        writeGrid(format, table, file);
    } catch (const Error &e) {
        file.cancelWriting();
        throw Error(QStringLiteral("无法写入导出文件“%1”\n%2").arg(shown, e.message()), e.cause(), e.detail());
    }
    try {
        file.commitChecked();
    } catch (const Error &e) {
        throw Error(withCause(QStringLiteral("无法保存导出文件“%1”").arg(shown), e.cause()), e.cause(), e.detail());
    }
}

} // namespace dagl
