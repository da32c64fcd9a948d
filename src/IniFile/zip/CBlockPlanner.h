#pragma once

#include "IniFile/zip/ISourceFile.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class CDeflatePipeline;

// A file to pack: what the scan learnt of it and, once it is planned, the file opened.
struct TSource
{
    QByteArray path;
    QString filePath;
    QString fileName;
    QByteArray name;
    bool regular = false;
    std::unique_ptr<ISourceFile> file;
    ISourceFile::TOpen opened = ISourceFile::TOpen::Failed;
    QString openError;
};

// The sources from the one being written to the last one planned. Those before are dropped, so
// that a folder of many files holds only the few in flight.
class CSources
{
public:
    explicit CSources(qsizetype count) : count(count) {}

    qsizetype size() const { return count; }
    TSource& at(qsizetype index)
    {
        while (first + qsizetype(live.size()) <= index)
            live.emplace_back();
        return live[size_t(index - first)];
    }
    void dropBefore(qsizetype index)
    {
        for (; first < index && !live.empty(); ++first)
            live.pop_front();
        first = qMax(first, index);
    }

private:
    // A deque keeps the references it handed out when it grows at its end.
    std::deque<TSource> live;
    qsizetype first = 0;
    const qsizetype count;
};

// Opens the files in archive order and submits their blocks to the pipeline as far ahead as it
// holds, each file cut at the size it had when it was opened. The writer ends a file with
// finish(), after which none of its blocks is planned again.
class CBlockPlanner
{
public:
    CBlockPlanner(CDeflatePipeline& pipeline, CSources& sources,
                  std::function<TSource(qsizetype)> describe, bool maskText)
        : pipeline(pipeline), sources(sources), describe(std::move(describe)), maskText(maskText)
    {}

    void plan();

    // Drops what is left of the file's blocks, plans none of it again and closes it.
    void finish(qsizetype index);

private:
    CDeflatePipeline& pipeline;
    CSources& sources;
    std::function<TSource(qsizetype)> describe;
    const bool maskText;
    qsizetype planned = 0;
    qint64 plannedOffset = 0;
    // Whether the file to plan next was described and opened.
    bool opened = false;
};
