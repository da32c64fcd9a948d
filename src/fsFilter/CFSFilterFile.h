#pragma once

#include "fsFilter/CFSPlatformFilter.h"

#include <QSettings>
#include <QString>

#include <memory>

// Reads a filter file into the filter it holds and writes that filter back. The file is the
// user's to edit: whatever it holds, load() adds the rules it can read, skips the others with a
// warning (a key it does not know, too) and never loses rules already held. save() replaces the
// whole file or leaves it as it was. The file owns its filter; getFilter() hands out copies, each
// a platform filter that checks names and reports like the registry's.
class CFSFilterFile
{
public:
    explicit CFSFilterFile(const QString& fileName = QString());
    ~CFSFilterFile();
    CFSFilterFile(const CFSFilterFile&) = delete;
    CFSFilterFile& operator=(const CFSFilterFile&) = delete;

    QString fileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }

    // Adds the file's options and rules to the held filter; false (with a critical record) when
    // there is no file to read.
    [[nodiscard]] bool load();
    // Writes the held filter; with overwrite false an existing file is left alone.
    [[nodiscard]] bool save(bool overwrite);

    // A copy of the held filter (the caller owns it), null when none is held.
    std::unique_ptr<CFSPlatformFilter> getFilter() const;
    // Holds a copy of filter instead of the held one; null changes nothing.
    void setFilter(const CFSFilter* filter);

private:
    void warnAboutUnknownKeys(QSettings& settings) const;

    QString m_fileName;
    std::unique_ptr<CFSPlatformFilter> filter;
};
