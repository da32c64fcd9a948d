#pragma once

#include <QStringList>

// What of a text QSettings does not give back once it wrote it to an ini file.
class CIniWrittenText
{
public:
    // The UTF-8 decoder that reads a value drops a byte order mark at its start, so a U+FEFF
    // that is the first character of a list value the writer stores as it stands (neither
    // escaped nor behind "@@" or "@String(") is lost, and the next one then takes its place.
    // Removes those characters from items and returns how many it removed.
    static int dropMarksLostOnSave(QStringList& items);
};
