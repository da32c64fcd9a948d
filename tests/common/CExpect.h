#pragma once

#include <QRegularExpression>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

// What a test expects of a call: its log records and its outcome.
class CExpect
{
public:
    // Registers with QTest::ignoreMessage the record "[ n : desc ] [ file : line : function ]
    // text" (text matched whole), so that a missing or changed record fails the test.
    static void record(QtMsgType type, const QString& file, const QString& function,
                       const QString& text)
    {
        recordMatching(type, file, function, QRegularExpression::escape(text));
    }
    // The same with a regular expression for the text (matching across lines).
    static void recordMatching(QtMsgType type, const QString& file, const QString& function,
                               const QString& pattern)
    {
        recordMatchingFile(type, QRegularExpression::escape(file), function, pattern);
    }
    // The same with regular expressions for the file name and the text, for a class whose
    // functions are spread over several files.
    static void recordMatchingFile(QtMsgType type, const QString& filePattern,
                                   const QString& function, const QString& pattern);
    // "true" or "false" for what call answers, or "<exception class> | <details>" for a
    // CException it throws (for example "FileExists | Destination already exists: /a").
    static QString outcome(const std::function<bool()>& call);
};

// Counts the records whose text matches pattern (of type, if given) while it lives, on any
// thread, and hands every record on; one counter at a time.
class CRecordCounter
{
public:
    explicit CRecordCounter(const QString& pattern, int type = -1);
    ~CRecordCounter();
    CRecordCounter(const CRecordCounter&) = delete;
    CRecordCounter& operator=(const CRecordCounter&) = delete;

    int count() const { return counted; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text);

    static inline QRegularExpression pattern;
    static inline int type = -1;
    static inline std::atomic<int> counted{0};
    static inline QtMessageHandler previous = nullptr;
};
