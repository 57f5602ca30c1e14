#pragma once

#include <QString>
#include <QVector>

namespace dagl {

// Field types, named as the operator sees them in error texts.
enum class FieldType { Unknown, WideString, FixedWideString, Memo, Integer, AutoInc, Float, DateTime };

struct FieldDef
{
    QString name;
    FieldType type = FieldType::Unknown;
    int size = 0; // characters, for text types; 0 means no limit

    bool isText() const
    {
        return type == FieldType::WideString || type == FieldType::FixedWideString || type == FieldType::Memo;
    }
};

QString fieldTypeName(FieldType type);

// The longest start of `text` that a text field of `size` holds (0: no limit). The cut
// falls between characters: a character outside the basic plane (a surrogate pair) is
// dropped whole rather than halved, which the database would store as "?".
QString cutToSize(const QString &text, int size);

// The field type of a column from the type it was declared with in the schema
// ("VARCHAR(10)", "CHAR(10)", "INTEGER", "DATETIME", "MEMO", ...).
FieldDef fieldFromDeclaredType(const QString &name, const QString &declaredType, bool autoIncrement);

// Whether a column of type `actual` can serve a field declared as `declared`.
bool fieldTypesCompatible(FieldType declared, FieldType actual);

} // namespace dagl
