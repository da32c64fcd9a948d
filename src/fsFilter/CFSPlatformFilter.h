#pragma once

#include "SY2Interfaces/IFSFilterInfoProducer.h"
#include "fsFilter/CFSFilter.h"

#include <QObject>
#include <QString>

// A filter that, beside its rules, refuses the names and paths the platform of the client's
// peers cannot store (reserved device names, trailing dots or blanks, the characters
// " < > : \ | * ? and controls), on every platform, so that a space stays portable. Every
// entry a query answers true for is reported on the querying thread: pathFiltered for a rule
// (except the silent working-file rules), pathInvalid for a name or path the platform refuses.
class CFSPlatformFilter : public QObject, public CFSFilter, public IFSFilterInfoProducer
{
    Q_OBJECT

public:
    CFSPlatformFilter();
    // A copy of other's rules, options, space identifier and string.
    explicit CFSPlatformFilter(const CFSFilter& other);
    ~CFSPlatformFilter() override;

    bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                    const QString& name, quint32 options, bool isDirectory, quint32& type) override;
    bool isFileFiltered(const quint32& module, const QString& spacePath, const QString& path,
                        const QString& name, quint32 options, quint32& type) override;
    bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                    const QString& name, bool isDirectory, quint32& type) override;
    bool isFileFiltered(const quint32& module, const QString& spacePath, const QString& path,
                        const QString& name, quint32& type) override;
    bool isFilteredRelative(const quint32& module, const QString& relativePath, const QString& name,
                            quint32 options, bool isDirectory, quint32& type) override;
    bool isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                const QString& name, quint32 options, quint32& type) override;
    bool isFilteredRelative(const quint32& module, const QString& relativePath, const QString& name,
                            bool isDirectory, quint32& type) override;
    bool isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                const QString& name, quint32& type) override;

    QObject* producerObject() override { return this; }

    // True for a whole reserved device name (any case), a name ending with a blank or a dot, or
    // one holding " < > : \ / | * ? or a control character.
    static bool isInvalidName(const QString& name);
    // True for a path ending with a blank or a dot, or holding " < > : \ | * ? or a control
    // character; "/" separates its components.
    static bool isInvalidPath(const QString& path);
    // True for a name without a leading or trailing blank or dot and without a forbidden or
    // control character.
    static bool isValidFileName(const QString& name);
    // True for a reserved device name with or without an extension (CON, con.txt, LPT1.log).
    static bool isReservedFileName(const QString& name);

Q_SIGNALS:
    void pathFiltered(quint32 spaceID, const QString& path, const QString& name, quint32 type);
    void pathInvalid(quint32 spaceID, const QString& path, const QString& name);

protected:
    void signalPathFiltered(quint32 spaceID, const QString& path, const QString& name,
                            quint32 type);
    void signalPathInvalid(quint32 spaceID, const QString& path, const QString& name);

private:
    // Reports what the rules answered, or else whether the platform refuses the entry.
    bool report(bool filtered, const QString& relativePath, const QString& name, quint32 type);
};
