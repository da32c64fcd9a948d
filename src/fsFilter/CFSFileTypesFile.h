#pragma once

#include "fsFilter/CFSFileTypes.h"

#include <QString>

#include <memory>

// Reads a file-types table from its ini file and writes it back. The file is user data: it is
// checked before it is parsed, and a save replaces it whole or not at all.
class CFSFileTypesFile
{
public:
    // Larger files are refused unread: a table of types never comes near this size.
    static constexpr qint64 maxFileSize = 1024 * 1024;

    explicit CFSFileTypesFile(const QString& fileName);
    ~CFSFileTypesFile();
    CFSFileTypesFile(const CFSFileTypesFile&) = delete;
    CFSFileTypesFile& operator=(const CFSFileTypesFile&) = delete;

    // Adds the file's types to the held table (creating it when there is none). On failure the
    // held table is unchanged.
    [[nodiscard]] bool load();
    // Writes the held table; with overwrite false an existing file is not touched.
    [[nodiscard]] bool save(bool overwrite);
    // A new copy of the held table for the caller, or null when none is held.
    [[nodiscard]] CFSFileTypes* getFileTypes() const;
    // Holds a copy of the given table; null changes nothing.
    void setFileTypes(const CFSFileTypes* fileTypes);

private:
    QString fileName;
    std::unique_ptr<CFSFileTypes> fileTypes;
};
