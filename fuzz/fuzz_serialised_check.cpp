// The input is an ini file. Whenever the serialised-value check lets it through, the settings
// parser must decode nothing from it. The file is parsed with every "@" replaced by a control
// character it does not hold, which the parser treats the same way, and again with another one;
// then no value or list item may start with the character and a marker in both parses, and
// values the parser decodes all the same (an "@" written as an escape) must be of the kinds it
// gives without a marker.

#include "FuzzSupport.h"

#include "iniText/CSerialisedValueCheck.h"

#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

const QLatin1String markers[] = {QLatin1String("Variant("), QLatin1String("DateTime(")};

// The keys, or "key[item]" for list items, whose text starts with at and a marker and ends with
// ")"; any value the parser decodes is a finding at once.
QSet<QString> markedItems(const QString& path, QChar at)
{
    QSet<QString> marked;
    const auto check = [&](const QVariant& item, const QString& name) {
        switch (item.metaType().id()) {
        case QMetaType::UnknownType:
        case QMetaType::QByteArray:
        case QMetaType::QRect:
        case QMetaType::QSize:
        case QMetaType::QPoint:
            return;
        case QMetaType::QString: {
            const QString text = item.toString();
            for (const QLatin1String marker : markers) {
                if (text.startsWith(at) && QStringView(text).sliced(1).startsWith(marker) &&
                    text.endsWith(u')'))
                    marked.insert(name);
            }
            return;
        }
        default:
            FuzzSupport::finding(QStringLiteral("key %1 was decoded as a %2")
                                     .arg(name, QString::fromLatin1(item.metaType().name())));
        }
    };
    const QSettings settings(path, QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        const QVariant value = settings.value(key);
        // Named with "@" back in place, so that both parses give the same names.
        const QString name = QString(key).replace(at, u'@');
        if (value.metaType().id() == QMetaType::QStringList ||
            value.metaType().id() == QMetaType::QVariantList) {
            const QVariantList items = value.toList();
            for (qsizetype i = 0; i < items.size(); ++i)
                check(items.at(i), QStringLiteral("%1[%2]").arg(name).arg(i));
        } else {
            check(value, name);
        }
    }
    return marked;
}

// The items that start with a marker when every "@" of content is written as at.
QSet<QString> markedItems(QByteArray content, char at)
{
    static QTemporaryDir folder;
    if (!folder.isValid())
        FuzzSupport::finding(QStringLiteral("no temporary folder"));
    // A fresh name each time: QSettings caches files by name and modification time.
    static int count = 0;
    const QString path = folder.filePath(QStringLiteral("input%1.ini").arg(++count));
    content.replace('@', at);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            FuzzSupport::finding(QStringLiteral("could not write ") + path);
    }
    const QSet<QString> marked = markedItems(path, QLatin1Char(at));
    QFile::remove(path);
    return marked;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool silenced = (FuzzSupport::silenceMessages(), true);
    Q_UNUSED(silenced);
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    if (CSerialisedValueCheck::mayHoldSerialisedValue(content))
        return 0;

    // Control characters are plain text to the parser, as "@" is, in keys and values alike. An
    // escape can give one too, so a marker counts only where two different ones both show it.
    QByteArray swaps;
    for (char candidate = 1; candidate < 9 && swaps.size() < 2; ++candidate) {
        if (!content.contains(candidate))
            swaps.append(candidate);
    }
    if (swaps.size() < 2)
        return 0;
    const QSet<QString> first = markedItems(content, swaps.at(0));
    if (first.isEmpty())
        return 0;
    const QSet<QString> second = markedItems(content, swaps.at(1));
    for (const QString& name : first) {
        if (second.contains(name))
            FuzzSupport::finding(QStringLiteral("the check missed the marker of ") + name);
    }
    return 0;
}
