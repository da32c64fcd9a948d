#pragma once

#include <QString>

// Asks the desktop's file manager to show a file selected in its folder, through the
// org.freedesktop.FileManager1 service on the session bus, which the common Linux file
// managers provide. Stateless; the caller opens the folder itself when this fails.
class CFileManagerLinux
{
public:
    static constexpr int defaultTimeout = 2000;

    // False, with a record saying why, when there is no session bus, no file manager serving
    // it, or no answer within timeout milliseconds.
    static bool showItem(const QString& file, int timeout = defaultTimeout);
};
