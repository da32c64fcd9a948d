#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstring>

// The archive file. Writes are gathered here and handed to the system in large pieces, each
// checked, and the first failure is kept in the system's words: QFile loses them on a short write
// and forgets them at its next seek, and its close() does not say whether its last flush worked.
// A seek into what is gathered, as when minizip goes back to the local header of the entry it
// has just ended, only moves the position, and the bytes are rewritten here: a small entry costs
// no system call.
class CArchiveFile : public QFile
{
public:
    using QFile::QFile;
    ~CArchiveFile() override { flushWrites(); }
    CArchiveFile(const CArchiveFile&) = delete;
    CArchiveFile& operator=(const CArchiveFile&) = delete;

    // Every piece goes straight to the system, from this buffer.
    bool open(OpenMode mode) override { return QFile::open(mode | QIODevice::Unbuffered); }
    void close() override
    {
        flushWrites();
        QFile::close();
    }
    bool seek(qint64 offset) override
    {
        if (!pending.isEmpty() && offset >= pendingStart && offset <= pendingEnd())
            return QIODevice::seek(offset);
        return flushWrites() && QFile::seek(offset);
    }
    qint64 size() const override
    {
        return qMax(QFile::size(), pending.isEmpty() ? 0 : pendingEnd());
    }

    // Hands what was gathered to the system, and moves its position to this file's; false once
    // any write failed.
    bool flushWrites()
    {
        if (pending.isEmpty())
            return failure.isEmpty();
        const qint64 end = pendingEnd();
        if (writePending() && pos() != end && !QFile::seek(pos()))
            failure = errorString();
        return failure.isEmpty();
    }
    QString writeError() const { return failure; }

    // The new version of an archive that is added to starts as a copy of the old one, whose
    // entries the library then keeps where they are.
    bool copyFrom(const QString& from, QString& cause)
    {
        QFile source(from);
        if (!source.open(QIODevice::ReadOnly)) {
            cause = source.errorString();
            return false;
        }
        QByteArray chunk(1024 * 1024, Qt::Uninitialized);
        for (;;) {
            const qint64 count = source.read(chunk.data(), chunk.size());
            if (count == 0)
                return true;
            if (count < 0) {
                cause = source.errorString();
                return false;
            }
            if (write(chunk.constData(), count) != count) {
                cause = failure.isEmpty() ? errorString() : failure;
                return false;
            }
        }
    }

    // Rewrites two bytes already written at offset, where they may still be gathered here.
    bool rewrite16(qint64 offset, quint16 value)
    {
        const char bytes[2] = {char(value & 0xFF), char(value >> 8)};
        if (!pending.isEmpty() && offset >= pendingStart && offset + 2 <= pendingEnd()) {
            std::memcpy(pending.data() + (offset - pendingStart), bytes, 2);
            return true;
        }
        const qint64 here = pos();
        return seek(offset) && write(bytes, 2) == 2 && seek(here);
    }

protected:
    qint64 readData(char* data, qint64 size) override
    {
        return flushWrites() ? QFile::readData(data, size) : -1;
    }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (pending.isEmpty())
            pendingStart = pos();
        const qint64 at = pos() - pendingStart;
        const qint64 overwritten = qMin(size, qint64(pending.size()) - at);
        if (overwritten > 0)
            std::memcpy(pending.data() + at, data, size_t(overwritten));
        pending.append(data + overwritten, size - overwritten);
        // Handed over only when the write ends the buffer, where the system's position will be
        // this file's.
        if (pending.size() >= bufferSize && at + size == pending.size() && !writePending())
            return -1;
        return failure.isEmpty() ? size : -1;
    }

private:
    qint64 pendingEnd() const { return pendingStart + pending.size(); }

    // Writes what was gathered where the system's position is: at its start.
    bool writePending()
    {
        if (!pending.isEmpty() && failure.isEmpty()) {
            // The system writes less than asked only when it cannot write the rest; asking
            // again for the rest brings out its reason.
            for (qint64 done = 0; done < pending.size();) {
                const qint64 written =
                    QFile::writeData(pending.constData() + done, pending.size() - done);
                if (written <= 0) {
                    failure = errorString();
                    break;
                }
                done += written;
            }
        }
        // Emptied, not freed: the buffer is filled again at once.
        pending.truncate(0);
        return failure.isEmpty();
    }

    static constexpr qsizetype bufferSize = 256 * 1024;
    QByteArray pending;
    qint64 pendingStart = 0;
    QString failure;
};
