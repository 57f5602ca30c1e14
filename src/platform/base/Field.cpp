#include "Field.h"

#include <QRegularExpression>

namespace dagl {

QString fieldTypeName(FieldType type)
{
    switch (type) {
    case FieldType::WideString:
    case FieldType::FixedWideString:
        return QStringLiteral("WideString");
    case FieldType::Memo:
        return QStringLiteral("WideMemo");
    case FieldType::Integer:
        return QStringLiteral("Integer");
    case FieldType::AutoInc:
        return QStringLiteral("AutoInc");
    case FieldType::Float:
        return QStringLiteral("Float");
    case FieldType::DateTime:
        return QStringLiteral("DateTime");
    case FieldType::Unknown:
        break;
    }
    return QStringLiteral("Unknown");
}

QString cutToSize(const QString &text, int size)
{
    if (size <= 0 || text.size() <= size)
        return text;
    const bool splitsPair = text.at(size - 1).isHighSurrogate() && text.at(size).isLowSurrogate();
    return text.left(splitsPair ? size - 1 : size);
}

FieldDef fieldFromDeclaredType(const QString &name, const QString &declaredType, bool autoIncrement)
{
    static const QRegularExpression sized(QStringLiteral(R"(^\s*([A-Za-z ]+?)\s*\(\s*(\d+)\s*\)\s*$)"));
    FieldDef def{name, FieldType::Unknown, 0};
    QString base = declaredType.trimmed().toUpper();
    const QRegularExpressionMatch m = sized.match(base);
    if (m.hasMatch()) {
        base = m.captured(1).toUpper();
        def.size = m.captured(2).toInt();
    }
    if (base == QLatin1String("CHAR") || base == QLatin1String("NCHAR")) {
        def.type = FieldType::FixedWideString;
    } else if (base.contains(QLatin1String("CHAR")) || (base == QLatin1String("TEXT") && def.size > 0)) {
        def.type = FieldType::WideString;
    } else if (base == QLatin1String("TEXT") || base == QLatin1String("MEMO") || base == QLatin1String("LONGTEXT")) {
        def.type = FieldType::Memo;
    } else if (base.contains(QLatin1String("INT")) || base == QLatin1String("LONG") || base == QLatin1String("COUNTER")) {
        def.type = autoIncrement || base == QLatin1String("COUNTER") ? FieldType::AutoInc : FieldType::Integer;
    } else if (base.contains(QLatin1String("DATE")) || base.contains(QLatin1String("TIME"))) {
        def.type = FieldType::DateTime;
    } else if (base.contains(QLatin1String("REAL")) || base.contains(QLatin1String("FLOA"))
               || base.contains(QLatin1String("DOUB")) || base.contains(QLatin1String("NUMERIC"))
               || base.contains(QLatin1String("DECIMAL")) || base.contains(QLatin1String("CURRENCY"))) {
        def.type = FieldType::Float;
    }
    if (!def.isText())
        def.size = 0;
    return def;
}

bool fieldTypesCompatible(FieldType declared, FieldType actual)
{
    auto family = [](FieldType t) {
        return t == FieldType::FixedWideString ? FieldType::WideString : t;
    };
    return family(declared) == family(actual);
}

} // namespace dagl
