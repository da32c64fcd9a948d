#include "IniFile/collector/CUndecodableNames.h"

#include <QFile>
#include <QStringDecoder>

#include <memory>

#include <dirent.h>

namespace {
struct DirectoryCloser
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};

QString escaped(const QByteArray& name)
{
    QString text;
    for (const char byte : name) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= 0x20 && code < 0x7f && code != '\\')
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
    return text;
}
} // namespace

QStringList CUndecodableNames::in(const QString& folder)
{
    QStringList names;
    const std::unique_ptr<DIR, DirectoryCloser> directory(
        ::opendir(QFile::encodeName(folder).constData()));
    if (!directory)
        return names;
    // A read error ends the listing like its end does: what was found is still reported.
    while (const struct dirent* entry = ::readdir(directory.get())) {
        const QByteArray name(entry->d_name);
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded = decoder(name);
        if (decoder.hasError())
            names.append(escaped(name));
    }
    return names;
}
