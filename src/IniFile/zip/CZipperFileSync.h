#pragma once

#include <QString>

class QFileDevice;

// Makes a written archive durable before it is handed on: what the system holds of the open file
// reaches the disk, or the reason it cannot. Each platform provides sync().
class CZipperFileSync
{
public:
    // file is open and flushed. On failure, error holds the system's words for the cause.
    static bool sync(const QFileDevice& file, QString& error);
};
