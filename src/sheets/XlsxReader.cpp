#include "XlsxReader.h"

#include "XmlScanner.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>

namespace dagl {

namespace {

// A part's relationships: id -> (type, target part).
struct Relation {
    QString type;
    QString target;
};

QString folderOf(const QString &part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash + 1);
}

// A relationship's target as a part name: absolute from the archive's root, or relative to
// the folder of the part that names it, ".." segments resolved.
QString resolve(const QString &base, const QString &target)
{
    QString path = target.startsWith(QLatin1Char('/')) ? target.mid(1) : folderOf(base) + target;
    QStringList out;
    const QStringList segments = path.split(QLatin1Char('/'));
    for (const QString &s : segments) {
        if (s == QLatin1String(".."))
            out.isEmpty() ? void() : out.removeLast();
        else if (!s.isEmpty() && s != QLatin1String("."))
            out << s;
    }
    return out.join(QLatin1Char('/'));
}

QString relsOf(const QString &part)
{
    return folderOf(part) + QStringLiteral("_rels/") + part.mid(folderOf(part).size()) + QStringLiteral(".rels");
}

QString text(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

QByteArrayView bytes(std::string_view view)
{
    return QByteArrayView(view.data(), qsizetype(view.size()));
}

// Reads a part through the scanner, handing each start element to `element`; checks the
// expansion afterwards.
template <typename F> void parse(const ZipArchive &zip, const QString &part, WorkbookBudget &budget, F element)
{
    const std::unique_ptr<QIODevice> device = zip.open(part, budget.limits().partBytes, &budget);
    XmlScanner xml(*device, part);
    for (XmlScanner::Token token; (token = xml.next()) != XmlScanner::EndDocument;) {
        if (token == XmlScanner::StartElement)
            element(xml);
    }
    ZipArchive::check(*device);
}

QHash<QString, Relation> relations(const ZipArchive &zip, const QString &part, WorkbookBudget &budget)
{
    QHash<QString, Relation> result;
    const QString rels = relsOf(part);
    if (!zip.contains(rels))
        return result;
    parse(zip, rels, budget, [&](XmlScanner &xml) {
        if (xml.name() != "Relationship" || result.size() > 100000)
            return;
        if (text(xml.attribute("TargetMode")).compare(QLatin1String("External"), Qt::CaseInsensitive) == 0)
            return;
        result.insert(
            text(xml.attribute("Id")), { text(xml.attribute("Type")), resolve(part, text(xml.attribute("Target"))) });
    });
    return result;
}

// Characters XML cannot hold come as _xHHHH_ ("_x000D_" for a carriage return); a literal
// "_x" is written "_x005F_x".
QString unescaped(QString text)
{
    qsizetype at = text.indexOf(QLatin1String("_x"));
    while (at >= 0 && at + 7 <= text.size()) {
        bool ok = text.at(at + 6) == QLatin1Char('_');
        const uint code = ok ? QStringView(text).mid(at + 2, 4).toUInt(&ok, 16) : 0;
        if (ok) {
            text.replace(at, 7, QChar(char16_t(code)));
            ++at;
        } else {
            at += 2;
        }
        at = text.indexOf(QLatin1String("_x"), at);
    }
    return text;
}

// The text of the element the scanner is at, its phonetic runs left out (<rPh>): the plain
// <t> of a string, or the <t> of each rich-text run <r>.
QString richText(XmlScanner &xml, quint64 charLimit, std::string &scratch)
{
    scratch.clear();
    int depth = 1;
    bool inText = false;
    int skip = 0;
    while (depth > 0) {
        switch (xml.next()) {
        case XmlScanner::StartElement:
            ++depth;
            if (xml.name() == "rPh")
                ++skip;
            inText = xml.name() == "t";
            break;
        case XmlScanner::EndElement:
            --depth;
            if (xml.name() == "rPh")
                --skip;
            inText = false;
            break;
        case XmlScanner::Characters:
            if (inText && skip == 0) {
                scratch.append(xml.text());
                // Each UTF-16 unit takes at least one byte and at most three.
                if (quint64(scratch.size()) > 3 * charLimit)
                    WorkbookFault::tooLarge(QStringLiteral("文字过多"));
            }
            break;
        case XmlScanner::EndDocument:
            depth = 0;
            break;
        }
    }
    QString result = text(scratch);
    if (quint64(result.size()) > charLimit)
        WorkbookFault::tooLarge(QStringLiteral("文字过多"));
    return unescaped(std::move(result));
}

// "B12" -> row 11, column 1. False for a reference that is no cell's.
bool parseReference(std::string_view ref, quint32 *row, quint32 *column)
{
    size_t i = 0;
    quint64 c = 0;
    while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z') {
        c = c * 26 + quint64(ref[i] - 'A' + 1);
        if (c > MaxSheetColumns)
            return false;
        ++i;
    }
    quint64 r = 0;
    const size_t digits = i;
    while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9') {
        r = r * 10 + quint64(ref[i] - '0');
        if (r > MaxSheetRows)
            return false;
        ++i;
    }
    if (c == 0 || r == 0 || i != ref.size() || digits == i)
        return false;
    *row = quint32(r - 1);
    *column = quint32(c - 1);
    return true;
}

bool isTrue(std::string_view value)
{
    return value == "1" || value == "true";
}

std::string_view trimmed(std::string_view v)
{
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '\n' || v.front() == '\r'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\n' || v.back() == '\r'))
        v.remove_suffix(1);
    return v;
}

} // namespace

XlsxReader::XlsxReader(const QByteArray &file, const WorkbookLimits &limits)
    : m_zip(file)
    , m_limits(limits)
    , m_budget(limits, quint64(file.size()))
{
    QString workbook = QStringLiteral("xl/workbook.xml");
    const QHash<QString, Relation> root = relations(m_zip, QString(), m_budget);
    for (const Relation &r : root) {
        if (r.type.endsWith(QLatin1String("/officeDocument")))
            workbook = r.target;
    }
    if (!m_zip.contains(workbook)) {
        if (m_zip.contains(QStringLiteral("content.xml")))
            throw WorkbookFault { WorkbookFault::Kind::NotWorkbook, QStringLiteral("OpenDocument") };
        throw WorkbookFault { WorkbookFault::Kind::NotWorkbook, QString() };
    }
    const QHash<QString, Relation> rels = relations(m_zip, workbook, m_budget);
    QString styles;
    QString shared;
    for (const Relation &r : rels) {
        if (r.type.endsWith(QLatin1String("/styles")))
            styles = r.target;
        else if (r.type.endsWith(QLatin1String("/sharedStrings")))
            shared = r.target;
    }
    parse(m_zip, workbook, m_budget, [&](XmlScanner &xml) {
        if (xml.name() == "workbookPr") {
            m_date1904 = isTrue(xml.attribute("date1904"));
        } else if (xml.name() == "sheet") {
            const Relation r = rels.value(text(xml.prefixedAttribute("id")));
            if (!r.type.endsWith(QLatin1String("/worksheet")))
                return; // chart sheets and dialog sheets hold no cells
            if (m_sheetNames.size() >= 0xFFFF)
                WorkbookFault::tooLarge(QStringLiteral("工作表过多"));
            m_sheetNames << text(xml.attribute("name"));
            m_sheetParts << r.target;
        }
    });
    if (!styles.isEmpty() && m_zip.contains(styles))
        readStyles(styles);
    if (!shared.isEmpty() && m_zip.contains(shared))
        readSharedStrings(shared);
}

void XlsxReader::readStyles(const QString &part)
{
    QHash<int, quint8> custom;
    std::vector<int> styleFormat;
    bool inCellXfs = false;
    const std::unique_ptr<QIODevice> device = m_zip.open(part, m_limits.partBytes, &m_budget);
    XmlScanner xml(*device, part);
    for (XmlScanner::Token token; (token = xml.next()) != XmlScanner::EndDocument;) {
        if (token == XmlScanner::EndElement && xml.name() == "cellXfs")
            inCellXfs = false;
        if (token != XmlScanner::StartElement)
            continue;
        if (xml.name() == "numFmt") {
            const int id = bytes(xml.attribute("numFmtId")).toInt();
            custom.insert(id, formatKind(id, text(xml.attribute("formatCode"))));
        } else if (xml.name() == "cellXfs") {
            inCellXfs = true;
        } else if (inCellXfs && xml.name() == "xf") {
            if (styleFormat.size() >= 0x100000)
                WorkbookFault::tooLarge(QStringLiteral("单元格样式过多"));
            styleFormat.push_back(bytes(xml.attribute("numFmtId")).toInt());
        }
    }
    ZipArchive::check(*device);
    m_styleFormat.assign(styleFormat.size(), 0);
    for (size_t i = 0; i < styleFormat.size(); ++i) {
        const int id = styleFormat[i];
        m_styleFormat[i] = custom.contains(id) ? custom.value(id) : formatKind(id, QStringView());
    }
}

void XlsxReader::readSharedStrings(const QString &part)
{
    quint64 chars = 0;
    std::string scratch;
    parse(m_zip, part, m_budget, [&](XmlScanner &xml) {
        if (xml.name() != "si")
            return;
        QString value = richText(xml, m_limits.stringChars - chars, scratch);
        chars += quint64(value.size());
        m_budget.sharedString(quint64(value.size()));
        m_shared.push_back(std::move(value));
    });
}

SheetData XlsxReader::readSheet(int index) const
{
    if (index < 0 || index >= m_sheetNames.size())
        WorkbookFault::damaged(QStringLiteral("没有第%1张工作表").arg(index + 1));
    WorkbookBudget budget = m_budget;
    SheetData sheet(m_sheetNames.at(index), budget, m_shared);
    sheet.date1904 = m_date1904;
    const QString part = m_sheetParts.at(index);
    const std::unique_ptr<QIODevice> device = m_zip.open(part, m_limits.partBytes, &budget);
    XmlScanner xml(*device, part);
    quint32 nextRow = 0; // rows and cells may leave out their references
    quint32 nextColumn = 0;
    bool inData = false;
    std::string value;
    std::string scratch;
    for (XmlScanner::Token token; (token = xml.next()) != XmlScanner::EndDocument;) {
        if (token == XmlScanner::EndElement && xml.name() == "sheetData")
            inData = false;
        if (token != XmlScanner::StartElement)
            continue;
        if (xml.name() == "sheetData") {
            inData = true;
            continue;
        }
        if (!inData)
            continue;
        if (xml.name() == "row") {
            const std::string_view r = xml.attribute("r");
            if (!r.empty()) {
                bool ok = false;
                const quint64 number = bytes(r).toULongLong(&ok);
                if (!ok || number == 0 || number > MaxSheetRows)
                    WorkbookFault::damaged(QStringLiteral("工作表“%1”的行号“%2”无效或超出了最大行数%3")
                                               .arg(sheet.name(), text(r))
                                               .arg(MaxSheetRows));
                nextRow = quint32(number - 1);
            }
            nextColumn = 0;
            ++nextRow;
            continue;
        }
        if (xml.name() != "c")
            continue;
        quint32 row = nextRow == 0 ? 0 : nextRow - 1;
        quint32 column = nextColumn;
        const std::string_view ref = xml.attribute("r");
        if (!ref.empty() && !parseReference(ref, &row, &column))
            WorkbookFault::damaged(
                QStringLiteral("工作表“%1”的单元格引用“%2”无效或超出了工作表的范围").arg(sheet.name(), text(ref)));
        nextColumn = column + 1;
        const std::string typeName(xml.attribute("t")); // kept: the scanner moves on below
        const quint32 style = bytes(xml.attribute("s")).toUInt();
        bool formula = false;
        bool hasValue = false;
        value.clear();
        QString inlineText;
        // The cell's children: <f>, <v>, <is>.
        for (XmlScanner::Token inner; (inner = xml.next()) != XmlScanner::EndDocument;) {
            if (inner == XmlScanner::EndElement && xml.name() == "c")
                break;
            if (inner != XmlScanner::StartElement)
                continue;
            if (xml.name() == "f") {
                formula = true;
                xml.skipElement();
            } else if (xml.name() == "v") {
                hasValue = true;
                value = xml.elementText();
                if (quint64(value.size()) > 32767 && quint64(text(value).size()) > 32767)
                    WorkbookFault::damaged(
                        QStringLiteral("工作表“%1”第%2行的单元格文字过长").arg(sheet.name()).arg(row + 1));
            } else if (xml.name() == "is") {
                hasValue = true;
                inlineText = richText(xml, 32767, scratch);
            } else {
                xml.skipElement();
            }
        }
        // An empty <v/> is no value: generators that cannot calculate write a formula's
        // result so.
        if (hasValue && typeName != "str" && typeName != "inlineStr" && trimmed(value).empty())
            hasValue = false;
        if (!hasValue) {
            if (formula)
                sheet.addNoResult(row, column);
            else
                sheet.addEmpty(row, column);
            continue;
        }
        const std::string_view v = trimmed(value);
        if (typeName == "s") {
            bool ok = false;
            const quint32 n = bytes(v).toUInt(&ok);
            if (!ok)
                WorkbookFault::damaged(QStringLiteral("工作表“%1”第%2行的共享字符串序号“%3”无效")
                                           .arg(sheet.name())
                                           .arg(row + 1)
                                           .arg(text(value)));
            sheet.addSharedText(row, column, n);
        } else if (typeName == "inlineStr") {
            if (!inlineText.isEmpty())
                sheet.addText(row, column, inlineText);
            else
                sheet.addEmpty(row, column);
        } else if (typeName == "str") {
            if (!value.empty())
                sheet.addText(row, column, unescaped(text(value)));
            else
                sheet.addEmpty(row, column);
        } else if (typeName == "b") {
            sheet.addBoolean(row, column, isTrue(v));
        } else if (typeName == "e") {
            sheet.addText(row, column, text(v), CellKind::Error);
        } else if (typeName == "d") {
            // An ISO date, kept as the serial number of the workbook's date system.
            const QString iso = text(v);
            QDateTime when = QDateTime::fromString(iso, Qt::ISODateWithMs);
            if (!when.isValid())
                when = QDateTime(QDate::fromString(iso, Qt::ISODate), QTime(0, 0));
            if (!when.isValid())
                WorkbookFault::damaged(
                    QStringLiteral("工作表“%1”第%2行的日期“%3”无效").arg(sheet.name()).arg(row + 1).arg(text(value)));
            const QDate base = m_date1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
            const double serial = double(base.daysTo(when.date())) + when.time().msecsSinceStartOfDay() / 86400000.0;
            sheet.addNumber(row, column, serial, SheetCell::Date);
        } else {
            bool ok = false;
            const double number = bytes(v).toDouble(&ok);
            if (!ok)
                WorkbookFault::damaged(QStringLiteral("工作表“%1”第%2行的数值“%3”无效")
                                           .arg(sheet.name())
                                           .arg(row + 1)
                                           .arg(text(value).left(40)));
            sheet.addNumber(row, column, number, format(style));
        }
    }
    ZipArchive::check(*device);
    sheet.finish();
    return sheet;
}

} // namespace dagl
