#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtGlobal>

#include <optional>

// A value as the ini file gives it: a text, a list for an unquoted text with commas, or a typed
// value written during this run. Anything that does not read as the key's type is refused.
namespace IniFileValues {

std::optional<bool> toFlag(const QVariant& value);
std::optional<qint64> toSigned(const QVariant& value);
std::optional<quint64> toUnsigned(const QVariant& value);
std::optional<QString> toText(const QVariant& value);
std::optional<QStringList> toTextList(const QVariant& value);

} // namespace IniFileValues
