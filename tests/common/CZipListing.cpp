#include "common/CZipListing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {
const char* const script =
    "import hashlib, json, sys, zipfile\n"
    "with zipfile.ZipFile(sys.argv[1]) as z:\n"
    "    infos = z.infolist()\n"
    "    print(json.dumps({'bad': z.testzip(), 'names': [i.filename for i in infos],\n"
    "        'sizes': [i.file_size for i in infos],\n"
    "        'utf8': [i.filename for i in infos if i.flag_bits & 0x800],\n"
    "        'times': ['%04d-%02d-%02d %02d:%02d:%02d' % i.date_time for i in infos],\n"
    "        'needed': [i.extract_version for i in infos],\n"
    "        'raw': [i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437').hex()\n"
    "                for i in infos],\n"
    "        'hashes': [hashlib.sha256(z.read(i)).hexdigest() for i in infos]}))\n";

bool finishedCleanly(QProcess& process)
{
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
} // namespace

CZipListing::CZipListing(const QString& archive)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), archive});
    if (!finishedCleanly(python))
        return;
    const QJsonObject result = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    const auto strings = [&result](const char* key) {
        return QVariant(result.value(QLatin1String(key)).toArray().toVariantList()).toStringList();
    };
    names = strings("names");
    utf8Names = strings("utf8");
    times = strings("times");
    hashes = strings("hashes");
    for (const QString& name : strings("raw"))
        rawNames.append(QByteArray::fromHex(name.toLatin1()));
    for (const QJsonValue size : result.value(QStringLiteral("sizes")).toArray())
        sizes.append(size.toInteger());
    for (const QJsonValue version : result.value(QStringLiteral("needed")).toArray())
        versionsNeeded.append(version.toInt());
    // Info-ZIP answers an archive without entries with a warning.
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tqq"), archive});
    valid =
        result.value(QStringLiteral("bad")).isNull() && (finishedCleanly(unzip) || names.isEmpty());
}
