#include "XlsxReader.h"

#include <QDateTime>
#include <QHash>
#include <QXmlStreamReader>

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

[[noreturn]] void xmlFault(const QString &part, const QXmlStreamReader &xml)
{
    WorkbookFault::damaged(
        QStringLiteral("“%1”不是有效的XML（第%2行第%3列）").arg(part).arg(xml.lineNumber()).arg(xml.columnNumber()));
}

// Reads a part through the XML reader, handing each start element to `element`; checks the
// expansion and the XML afterwards.
template <typename F> void parse(const ZipArchive &zip, const QString &part, quint64 limit, F element)
{
    const std::unique_ptr<QIODevice> device = zip.open(part, limit);
    QXmlStreamReader xml(device.get());
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement)
            element(xml);
    }
    ZipArchive::check(*device);
    if (xml.hasError())
        xmlFault(part, xml);
}

QHash<QString, Relation> relations(const ZipArchive &zip, const QString &part, quint64 limit)
{
    QHash<QString, Relation> result;
    const QString rels = relsOf(part);
    if (!zip.contains(rels))
        return result;
    parse(zip, rels, limit, [&](QXmlStreamReader &xml) {
        if (xml.name() != QLatin1String("Relationship") || result.size() > 100000)
            return;
        const QXmlStreamAttributes a = xml.attributes();
        const QString mode = a.value(QLatin1String("TargetMode")).toString();
        if (mode.compare(QLatin1String("External"), Qt::CaseInsensitive) == 0)
            return;
        result.insert(a.value(QLatin1String("Id")).toString(),
            { a.value(QLatin1String("Type")).toString(), resolve(part, a.value(QLatin1String("Target")).toString()) });
    });
    return result;
}

// An element's name without its prefix: the sheet's reader leaves namespaces unprocessed
// (it needs none of them), and some writers prefix every element ("x:c").
QStringView local(const QXmlStreamReader &xml)
{
    const QStringView name = xml.name();
    const qsizetype colon = name.lastIndexOf(u':');
    return colon < 0 ? name : name.mid(colon + 1);
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

// The text of the element the reader is at, its phonetic runs left out (<rPh>).
QString richText(QXmlStreamReader &xml, quint64 charLimit)
{
    QString text;
    int depth = 1;
    bool inText = false;
    int skip = 0;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (local(xml) == QLatin1String("rPh"))
                ++skip;
            inText = local(xml) == QLatin1String("t");
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            if (local(xml) == QLatin1String("rPh"))
                --skip;
            inText = false;
            break;
        case QXmlStreamReader::Characters:
            if (inText && skip == 0) {
                text += xml.text();
                if (quint64(text.size()) > charLimit)
                    WorkbookFault::tooLarge(QStringLiteral("文字过多"));
            }
            break;
        default:
            break;
        }
    }
    return unescaped(text);
}

// "B12" -> row 11, column 1. False for a reference that is no cell's.
bool parseReference(QStringView ref, quint32 *row, quint32 *column)
{
    qsizetype i = 0;
    quint64 c = 0;
    while (i < ref.size() && ref.at(i).isUpper() && ref.at(i).unicode() < 0x80) {
        c = c * 26 + (ref.at(i).unicode() - u'A' + 1);
        if (c > MaxSheetColumns)
            return false;
        ++i;
    }
    quint64 r = 0;
    const qsizetype digits = i;
    while (i < ref.size() && ref.at(i).unicode() >= u'0' && ref.at(i).unicode() <= u'9') {
        r = r * 10 + (ref.at(i).unicode() - u'0');
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

bool isTrue(QStringView value)
{
    return value == QLatin1String("1") || value == QLatin1String("true");
}

} // namespace

XlsxReader::XlsxReader(const QByteArray &file, const WorkbookLimits &limits)
    : m_zip(file)
    , m_limits(limits)
{
    QString workbook = QStringLiteral("xl/workbook.xml");
    const QHash<QString, Relation> root = relations(m_zip, QString(), m_limits.partBytes);
    for (const Relation &r : root) {
        if (r.type.endsWith(QLatin1String("/officeDocument")))
            workbook = r.target;
    }
    if (!m_zip.contains(workbook)) {
        if (m_zip.contains(QStringLiteral("content.xml")))
            throw WorkbookFault { WorkbookFault::Kind::NotWorkbook, QStringLiteral("OpenDocument") };
        throw WorkbookFault { WorkbookFault::Kind::NotWorkbook, QString() };
    }
    const QHash<QString, Relation> rels = relations(m_zip, workbook, m_limits.partBytes);
    QString styles;
    QString shared;
    for (const Relation &r : rels) {
        if (r.type.endsWith(QLatin1String("/styles")))
            styles = r.target;
        else if (r.type.endsWith(QLatin1String("/sharedStrings")))
            shared = r.target;
    }
    parse(m_zip, workbook, m_limits.partBytes, [&](QXmlStreamReader &xml) {
        if (xml.name() == QLatin1String("workbookPr")) {
            m_date1904 = isTrue(xml.attributes().value(QLatin1String("date1904")));
        } else if (xml.name() == QLatin1String("sheet")) {
            QString id;
            for (const QXmlStreamAttribute &a : xml.attributes()) {
                if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                    id = a.value().toString();
            }
            const Relation r = rels.value(id);
            if (!r.type.endsWith(QLatin1String("/worksheet")))
                return; // chart sheets and dialog sheets hold no cells
            if (m_sheetNames.size() >= 0xFFFF)
                WorkbookFault::tooLarge(QStringLiteral("工作表过多"));
            m_sheetNames << xml.attributes().value(QLatin1String("name")).toString();
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
    const std::unique_ptr<QIODevice> device = m_zip.open(part, m_limits.partBytes);
    QXmlStreamReader xml(device.get());
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("cellXfs"))
            inCellXfs = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == QLatin1String("numFmt")) {
            const int id = a.value(QLatin1String("numFmtId")).toInt();
            custom.insert(id, formatKind(id, a.value(QLatin1String("formatCode"))));
        } else if (xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = true;
        } else if (inCellXfs && xml.name() == QLatin1String("xf")) {
            if (styleFormat.size() >= 0x100000)
                WorkbookFault::tooLarge(QStringLiteral("单元格样式过多"));
            styleFormat.push_back(a.value(QLatin1String("numFmtId")).toInt());
        }
    }
    ZipArchive::check(*device);
    if (xml.hasError())
        xmlFault(part, xml);
    m_styleFormat.assign(styleFormat.size(), 0);
    for (size_t i = 0; i < styleFormat.size(); ++i) {
        const int id = styleFormat[i];
        m_styleFormat[i] = custom.contains(id) ? custom.value(id) : formatKind(id, QStringView());
    }
}

void XlsxReader::readSharedStrings(const QString &part)
{
    quint64 chars = 0;
    parse(m_zip, part, m_limits.partBytes, [&](QXmlStreamReader &xml) {
        if (xml.name() != QLatin1String("si"))
            return;
        if (quint64(m_shared.size()) >= m_limits.strings)
            WorkbookFault::tooLarge(QStringLiteral("共享字符串超过%1个").arg(m_limits.strings));
        QString text = richText(xml, m_limits.stringChars - chars);
        chars += quint64(text.size());
        m_shared.push_back(std::move(text));
    });
}

SheetData XlsxReader::readSheet(int index) const
{
    if (index < 0 || index >= m_sheetNames.size())
        WorkbookFault::damaged(QStringLiteral("没有第%1张工作表").arg(index + 1));
    SheetData sheet(m_sheetNames.at(index), m_limits, m_shared);
    sheet.date1904 = m_date1904;
    const QString part = m_sheetParts.at(index);
    const std::unique_ptr<QIODevice> device = m_zip.open(part, m_limits.partBytes);
    QXmlStreamReader xml(device.get());
    xml.setNamespaceProcessing(false);
    quint32 nextRow = 0; // rows and cells may leave out their references
    quint32 nextColumn = 0;
    bool inData = false;
    QString value;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && local(xml) == QLatin1String("sheetData"))
            inData = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (local(xml) == QLatin1String("sheetData")) {
            inData = true;
            continue;
        }
        if (!inData)
            continue;
        if (local(xml) == QLatin1String("row")) {
            const QStringView r = xml.attributes().value(QLatin1String("r"));
            if (!r.isEmpty()) {
                bool ok = false;
                const quint64 number = r.toULongLong(&ok);
                if (!ok || number == 0 || number > MaxSheetRows)
                    WorkbookFault::damaged(QStringLiteral("工作表“%1”的行号“%2”无效或超出了最大行数%3")
                                               .arg(sheet.name(), r.toString())
                                               .arg(MaxSheetRows));
                nextRow = quint32(number - 1);
            }
            nextColumn = 0;
            ++nextRow;
            continue;
        }
        if (local(xml) != QLatin1String("c"))
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        quint32 row = nextRow == 0 ? 0 : nextRow - 1;
        quint32 column = nextColumn;
        const QStringView ref = a.value(QLatin1String("r"));
        if (!ref.isEmpty() && !parseReference(ref, &row, &column))
            WorkbookFault::damaged(
                QStringLiteral("工作表“%1”的单元格引用“%2”无效或超出了工作表的范围").arg(sheet.name(), ref.toString()));
        nextColumn = column + 1;
        const QStringView type = a.value(QLatin1String("t"));
        const quint32 style = a.value(QLatin1String("s")).toUInt();
        bool formula = false;
        bool hasValue = false;
        value.clear();
        QString inline_;
        // The cell's children: <f>, <v>, <is>.
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType t = xml.readNext();
            if (t == QXmlStreamReader::EndElement && local(xml) == QLatin1String("c"))
                break;
            if (t != QXmlStreamReader::StartElement)
                continue;
            if (local(xml) == QLatin1String("f")) {
                formula = true;
                xml.skipCurrentElement();
            } else if (local(xml) == QLatin1String("v")) {
                hasValue = true;
                value = xml.readElementText();
                if (quint64(value.size()) > 32767)
                    WorkbookFault::damaged(
                        QStringLiteral("工作表“%1”第%2行的单元格文字过长").arg(sheet.name()).arg(row + 1));
            } else if (local(xml) == QLatin1String("is")) {
                hasValue = true;
                inline_ = richText(xml, 32767);
            } else {
                xml.skipCurrentElement();
            }
        }
        if (xml.hasError())
            break;
        if (!hasValue) {
            if (formula)
                sheet.addNoResult(row, column);
            else
                sheet.addEmpty(row, column);
            continue;
        }
        if (type == QLatin1String("s")) {
            bool ok = false;
            const quint32 n = value.trimmed().toUInt(&ok);
            if (!ok)
                WorkbookFault::damaged(QStringLiteral("工作表“%1”第%2行的共享字符串序号“%3”无效")
                                           .arg(sheet.name())
                                           .arg(row + 1)
                                           .arg(value));
            sheet.addSharedText(row, column, n);
        } else if (type == QLatin1String("inlineStr")) {
            if (!inline_.isEmpty())
                sheet.addText(row, column, inline_);
            else
                sheet.addEmpty(row, column);
        } else if (type == QLatin1String("str")) {
            if (!value.isEmpty())
                sheet.addText(row, column, unescaped(value));
            else
                sheet.addEmpty(row, column);
        } else if (type == QLatin1String("b")) {
            sheet.addBoolean(row, column, isTrue(value.trimmed()));
        } else if (type == QLatin1String("e")) {
            sheet.addText(row, column, value.trimmed(), CellKind::Error);
        } else if (type == QLatin1String("d")) {
            // An ISO date, kept as the serial number of the workbook's date system.
            QDateTime when = QDateTime::fromString(value.trimmed(), Qt::ISODateWithMs);
            if (!when.isValid())
                when = QDateTime(QDate::fromString(value.trimmed(), Qt::ISODate), QTime(0, 0));
            if (!when.isValid())
                WorkbookFault::damaged(
                    QStringLiteral("工作表“%1”第%2行的日期“%3”无效").arg(sheet.name()).arg(row + 1).arg(value));
            const QDate base = m_date1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
            const double serial = double(base.daysTo(when.date())) + when.time().msecsSinceStartOfDay() / 86400000.0;
            sheet.addNumber(row, column, serial, SheetCell::Date);
        } else {
            bool ok = false;
            const double number = value.trimmed().toDouble(&ok);
            if (!ok)
                WorkbookFault::damaged(QStringLiteral("工作表“%1”第%2行的数值“%3”无效")
                                           .arg(sheet.name())
                                           .arg(row + 1)
                                           .arg(value.left(40)));
            sheet.addNumber(row, column, number, format(style));
        }
    }
    ZipArchive::check(*device);
    if (xml.hasError())
        xmlFault(part, xml);
    sheet.finish();
    return sheet;
}

} // namespace dagl
