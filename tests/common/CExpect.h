#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// What a test expects of a call: its log records and its outcome.
class CExpect
{
public:
    // Registers with QTest::ignoreMessage the record "[ n : desc ] [ file : line : function ]
    // text" (text matched whole), so that a missing or changed record fails the test.
    static void record(QtMsgType type, const QString& file, const QString& function,
                       const QString& text);
    // The same with a regular expression for the text (matching across lines).
    static void recordMatching(QtMsgType type, const QString& file, const QString& function,
                               const QString& pattern);
    // The same with regular expressions for the file name and the text, for a class whose
    // functions are spread over several files.
    static void recordMatchingFile(QtMsgType type, const QString& filePattern,
                                   const QString& function, const QString& pattern);
    // "true" or "false" for what call answers, or "<exception class> | <details>" for a
    // CException it throws (for example "FileExists | Destination already exists: /a").
    static QString outcome(const std::function<bool()>& call);
};
