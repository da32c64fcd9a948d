#include "IniFile/scanner/CDirListing.h"

#include <algorithm>

void CDirListing::reset(const QByteArray& root)
{
    rootPath = root;
    pool.clear();
    directories.clear();
    plainFiles.clear();
    rawDirs.clear();
    rawFiles.clear();
    utf8Dirs = 0;
    utf8Files = 0;
}

void CDirListing::add(bool isDirectory, const QByteArray& path, quint32 mode, qint64 size,
                      bool decodable)
{
    const TEntry entry{pool.size(), size, quint32(path.size()), mode};
    pool.append(path);
    (isDirectory ? directories : plainFiles).push_back(entry);
    (isDirectory ? rawDirs : rawFiles).push_back(!decodable);
}

void CDirListing::finish()
{
    const auto sort = [](std::vector<TEntry>& entries, std::vector<bool>& raw, size_t& utf8) {
        std::vector<TEntry> sorted;
        sorted.reserve(entries.size());
        for (const bool wantRaw : {false, true}) {
            for (size_t index = 0; index < entries.size(); ++index)
                if (raw[index] == wantRaw)
                    sorted.push_back(entries[index]);
            if (!wantRaw)
                utf8 = sorted.size();
        }
        entries.swap(sorted);
        raw.clear();
        raw.shrink_to_fit();
    };
    sort(directories, rawDirs, utf8Dirs);
    sort(plainFiles, rawFiles, utf8Files);
    pool.squeeze();
}

void CDirListing::addMade(const QByteArray& path, quint32 mode, qint64 size)
{
    const TEntry entry{pool.size(), size, quint32(path.size()), mode};
    pool.append(path);
    plainFiles.insert(plainFiles.begin() + qsizetype(utf8Files), entry);
    ++utf8Files;
}

QByteArray CDirListing::fileName(const TEntry& entry) const
{
    const QByteArray whole = path(entry);
    return whole.mid(whole.lastIndexOf('/') + 1);
}
