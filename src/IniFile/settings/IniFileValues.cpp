#include "IniFile/settings/IniFileValues.h"

#include <limits>

namespace IniFileValues {

std::optional<bool> toFlag(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qlonglong number = value.toLongLong();
        if (number == 0 || number == 1)
            return number == 1;
        return std::nullopt;
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            text == QLatin1String("1"))
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 ||
            text == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> toSigned(const QVariant& value)
{
    bool ok = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::ULongLong:
        number = value.toLongLong();
        ok = value.toULongLong() <= quint64(std::numeric_limits<qint64>::max());
        break;
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    default:
        break;
    }
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

std::optional<quint64> toUnsigned(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toULongLong();
    case QMetaType::Int:
    case QMetaType::LongLong: {
        const qint64 number = value.toLongLong();
        return number < 0 ? std::nullopt : std::optional<quint64>(quint64(number));
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const quint64 number = text.toULongLong(&ok);
        return ok && !text.startsWith(QLatin1Char('-')) ? std::optional<quint64>(number)
                                                        : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> toText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        // The ini format splits an unquoted text at its commas.
        return value.toStringList().join(QLatin1String(", "));
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> toTextList(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        return text.isEmpty() ? QStringList() : QStringList{text};
    }
    return std::nullopt;
}

} // namespace IniFileValues
