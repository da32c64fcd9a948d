#pragma once

#include <QString>

class QFileDevice;

// Makes a settings file the user keeps durable: its data before it gets its name, the folder's
// entry after. Each platform provides both.
class CIniFileSync
{
public:
    // file is open and flushed. On failure, error holds the system's words for the cause.
    [[nodiscard]] static bool syncFile(const QFileDevice& file, QString& error);
    [[nodiscard]] static bool syncFolder(const QString& folder, QString& error);
};
