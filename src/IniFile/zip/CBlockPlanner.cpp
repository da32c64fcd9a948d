#include "IniFile/zip/CBlockPlanner.h"

#include "IniFile/zip/CDeflatePipeline.h"

void CBlockPlanner::plan()
{
    const qsizetype count = qsizetype(sources.size());
    while (planned < count) {
        TSource& source = sources.at(planned);
        if (!opened) {
            // No file is opened before a slot is free for it.
            if (!pipeline.hasRoom(0, 0, true))
                return;
            source = describe(planned);
            if (source.regular)
                source.file = ISourceFile::open(source.path, source.opened, source.openError);
            opened = true;
        }
        if (source.file) {
            const qint64 size = source.file->size();
            const bool whole = plannedOffset == 0 && size <= CDeflatePipeline::wholeSize;
            const qint64 wanted =
                whole ? size : qMin(CDeflatePipeline::blockSize, size - plannedOffset);
            const bool last = whole || plannedOffset + CDeflatePipeline::blockSize >= size;
            if (!pipeline.hasRoom(plannedOffset, wanted, last))
                return;
            // A large file's block is read by a worker once one is free: the system reads
            // it meanwhile.
            if (!whole)
                source.file->prefetch(plannedOffset, wanted);
            pipeline.submit(int(planned), source.file.get(), plannedOffset, wanted, last, maskText);
            plannedOffset += CDeflatePipeline::blockSize;
            if (!last)
                continue;
        }
        ++planned;
        plannedOffset = 0;
        opened = false;
    }
}

void CBlockPlanner::finish(qsizetype index)
{
    while (!pipeline.isEmpty() && pipeline.frontFile() == int(index))
        pipeline.pop();
    if (planned == index) {
        ++planned;
        plannedOffset = 0;
        opened = false;
    }
    sources.at(index).file.reset();
}
