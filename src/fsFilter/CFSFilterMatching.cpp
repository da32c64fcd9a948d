// CFSFilter's queries and category tests: the walk over a module's categories for one entry,
// and what a thread keeps between its queries. The rules they read are kept by CFSFilter.cpp.
#include "fsFilter/CFSFilter.h"

#include "dbapi/CPathOperations.h"

#include <mutex>

namespace {

// What the last queries of this thread computed: a scanner asks about every entry of a folder
// in a row, with the same space and parent path each time.
struct CThreadCache
{
    QString spacePath;
    QString path;
    QString relative;
    QString foldSource;
    QString folded;
    CFSPatternLiterals::Mask foldedMask;
    quint64 containsStamp = 0;
    QString containsSubject;
    qsizetype containsIndex = -1;
    // Reused for every query's folded name, so that a query allocates nothing for it.
    QString foldedName;
};

thread_local CThreadCache t_cache;

// Strings handed on from the cache share their data: equal pointers spare the comparison.
bool same(const QString& a, const QString& b)
{
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

} // namespace

// What a query computes about its entry, each piece once and only when a category needs it.
struct CFSFilter::Entry
{
    Entry(const QString& relative, const QString& name) : relative(relative), name(name) {}

    const QString& foldedRelative()
    {
        if (!hasFoldedRelative) {
            if (!same(t_cache.foldSource, relative)) {
                t_cache.foldSource = relative;
                t_cache.folded = CFSFilterSetting::fold(relative);
                t_cache.foldedMask = CFSPatternLiterals::mask(t_cache.folded);
            }
            foldedRelativeValue = t_cache.folded;
            relativeMask = t_cache.foldedMask;
            hasFoldedRelative = true;
        }
        return foldedRelativeValue;
    }
    const QString& foldedName()
    {
        if (!hasFoldedName) {
            CFSFilterSetting::fold(name, t_cache.foldedName);
            hasFoldedName = true;
        }
        return t_cache.foldedName;
    }
    const CFSPatternLiterals::Mask& nameMask()
    {
        if (!hasNameMask) {
            nameMaskValue = CFSPatternLiterals::mask(foldedName());
            hasNameMask = true;
        }
        return nameMaskValue;
    }
    const CFSPatternLiterals::Mask& fullPathMask()
    {
        if (!hasFullPathMask) {
            const QString& folder = foldedRelative();
            fullPathMaskValue =
                CFSPatternLiterals::joined(relativeMask, folder, nameMask(), foldedName());
            hasFullPathMask = true;
        }
        return fullPathMaskValue;
    }
    const QString& fullPath()
    {
        if (!hasFullPath) {
            fullPathValue = relative + name;
            hasFullPath = true;
        }
        return fullPathValue;
    }
    const QString& foldedFullPath()
    {
        if (!hasFoldedFullPath) {
            foldedFullPathValue = foldedRelative() + foldedName();
            hasFoldedFullPath = true;
        }
        return foldedFullPathValue;
    }

    // The entry's name, and its relative path followed by its name, as pattern subjects.
    class NameSubject : public CFSFilterRules::ISubject
    {
    public:
        explicit NameSubject(Entry& entry) : entry(entry) {}
        const CFSPatternLiterals::Mask& mask() override { return entry.nameMask(); }
        const QString& text() override { return entry.name; }
        const QString& folded() override { return entry.foldedName(); }

    private:
        Entry& entry;
    };
    class PathSubject : public CFSFilterRules::ISubject
    {
    public:
        explicit PathSubject(Entry& entry) : entry(entry) {}
        const CFSPatternLiterals::Mask& mask() override { return entry.fullPathMask(); }
        const QString& text() override { return entry.fullPath(); }
        const QString& folded() override { return entry.foldedFullPath(); }

    private:
        Entry& entry;
    };

    const QString& relative;
    const QString& name;

private:
    QString foldedRelativeValue;
    QString fullPathValue;
    QString foldedFullPathValue;
    CFSPatternLiterals::Mask relativeMask;
    CFSPatternLiterals::Mask nameMaskValue;
    CFSPatternLiterals::Mask fullPathMaskValue;
    bool hasFoldedRelative = false;
    bool hasFoldedName = false;
    bool hasNameMask = false;
    bool hasFullPathMask = false;
    bool hasFullPath = false;
    bool hasFoldedFullPath = false;
};

// Relative paths ---------------------------------------------------------------------------------

QString CFSFilter::relativePath(const QString& spacePath, const QString& path)
{
    // A warning about an empty space path is due at every query, so such queries skip the cache.
    if (!spacePath.isEmpty() && same(t_cache.path, path) && same(t_cache.spacePath, spacePath))
        return t_cache.relative;
    // A parent path names a folder: the space root itself, given without its trailing "/",
    // is "/" relative to the space like every other folder inside it.
    QString folder = path;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    QString relative = CPathOperations::makeSpaceRelativePath(spacePath, folder, false, true);
    if (!spacePath.isEmpty()) {
        t_cache.spacePath = spacePath;
        t_cache.path = path;
        t_cache.relative = relative;
    }
    return relative;
}

// Queries ----------------------------------------------------------------------------------------

// One query of module's rules for an entry, named function in the records of a bad module.
bool CFSFilter::query(quint32 module, const char* function, const QString& relativePath,
                      const QString& name, quint32 options, bool isDirectory, bool fileWalk,
                      quint32& type) const
{
    type = 0;
    const int index = moduleIndex(module, function);
    if (index < 0)
        return false;
    Entry entry(relativePath, name);
    return walk(index, entry, options, isDirectory, fileWalk, type);
}

bool CFSFilter::isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                           const QString& name, quint32 options, bool isDirectory, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFiltered");
    if (index < 0)
        return false;
    const QString relative = relativePath(spacePath, path);
    Entry entry(relative, name);
    return walk(index, entry, options, isDirectory, false, type);
}

bool CFSFilter::isFileFiltered(const quint32& module, const QString& spacePath, const QString& path,
                               const QString& name, quint32 options, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFileFiltered");
    if (index < 0)
        return false;
    const QString relative = relativePath(spacePath, path);
    Entry entry(relative, name);
    return walk(index, entry, options, false, true, type);
}

bool CFSFilter::isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                           const QString& name, bool isDirectory, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFiltered");
    if (index < 0)
        return false;
    const std::shared_lock lock(optionsLock);
    if (!(modulesWithOptions & module))
        return false;
    const QString relative = relativePath(spacePath, path);
    Entry entry(relative, name);
    return walk(index, entry, options[index], isDirectory, false, type);
}

bool CFSFilter::isFileFiltered(const quint32& module, const QString& spacePath, const QString& path,
                               const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFileFiltered");
    if (index < 0)
        return false;
    const std::shared_lock lock(optionsLock);
    if (!(modulesWithOptions & module))
        return false;
    const QString relative = relativePath(spacePath, path);
    Entry entry(relative, name);
    return walk(index, entry, options[index], false, true, type);
}

bool CFSFilter::isFilteredRelative(const quint32& module, const QString& relativePath,
                                   const QString& name, quint32 options, bool isDirectory,
                                   quint32& type)
{
    return query(module, "CFSFilter::isFilteredRelative", relativePath, name, options, isDirectory,
                 false, type);
}

bool CFSFilter::isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                       const QString& name, quint32 options, quint32& type)
{
    return query(module, "CFSFilter::isFileFilteredRelative", relativePath, name, options, false,
                 true, type);
}

bool CFSFilter::isFilteredRelative(const quint32& module, const QString& relativePath,
                                   const QString& name, bool isDirectory, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFilteredRelative");
    quint32 moduleOptions = 0;
    if (index < 0 || !optionsOf(index, moduleOptions))
        return false;
    Entry entry(relativePath, name);
    return walk(index, entry, moduleOptions, isDirectory, false, type);
}

bool CFSFilter::isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                       const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFileFilteredRelative");
    quint32 moduleOptions = 0;
    if (index < 0 || !optionsOf(index, moduleOptions))
        return false;
    Entry entry(relativePath, name);
    return walk(index, entry, moduleOptions, false, true, type);
}

namespace {

// The first rule of one module in one category that test finds, under the category's lock.
template<typename Category, typename Test>
bool firstMatch(const Category& category, int module, quint32& type, Test test)
{
    const std::shared_lock lock(category.lock);
    const CFSFilterRules& rules = category.modules[module];
    if (rules.isEmpty())
        return false;
    const qsizetype index = test(rules);
    if (index < 0)
        return false;
    type = rules.settings().at(index).type;
    return true;
}

// The first directory rule the folded relative path contains; the answer stays the same for all
// entries of a folder, so it is kept for the next query.
qsizetype firstContained(const CFSFilterRules& rules, const QString& foldedRelative)
{
    if (t_cache.containsStamp == rules.stamp() && same(t_cache.containsSubject, foldedRelative))
        return t_cache.containsIndex;
    const qsizetype index = rules.firstContainedIn(foldedRelative);
    t_cache.containsStamp = rules.stamp();
    t_cache.containsSubject = foldedRelative;
    t_cache.containsIndex = index;
    return index;
}

QStringView completeSuffix(QStringView name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? QStringView() : name.mid(dot + 1);
}

} // namespace

bool CFSFilter::walk(int module, Entry& entry, quint32 options, bool isDirectory, bool fileWalk,
                     quint32& type) const
{
    if (options == 0)
        return false;
    const bool isFile = fileWalk || !isDirectory;
    if (options & Directories) {
        const bool found =
            firstMatch(category(Directories), module, type, [&](const CFSFilterRules& rules) {
                qsizetype index = firstContained(rules, entry.foldedRelative());
                if (isDirectory && !fileWalk) {
                    QString folder = entry.foldedName();
                    if (!entry.name.endsWith(QLatin1Char('/')))
                        folder += QLatin1Char('/');
                    const qsizetype equal = rules.indexOfFolded(folder);
                    if (equal >= 0 && (index < 0 || equal < index))
                        index = equal;
                }
                return index;
            });
        if (found)
            return true;
    }
    if ((options & Files) && isFile &&
        firstMatch(category(Files), module, type, [&](const CFSFilterRules& rules) {
            return rules.indexOfFolded(entry.foldedName());
        }))
        return true;
    if ((options & Paths) &&
        firstMatch(category(Paths), module, type, [&](const CFSFilterRules& rules) {
            return rules.indexOfFolded(entry.foldedFullPath());
        }))
        return true;
    if ((options & FileTypes) && isFile &&
        firstMatch(category(FileTypes), module, type, [&](const CFSFilterRules& rules) {
            const QStringView suffix = completeSuffix(entry.name);
            if (suffix.isNull())
                return qsizetype(-1);
            return rules.indexOfFolded(CFSFilterSetting::fold(suffix));
        }))
        return true;
    if ((options & NamePrefixes) &&
        firstMatch(category(NamePrefixes), module, type, [&](const CFSFilterRules& rules) {
            return rules.firstPrefixOf(entry.foldedName());
        }))
        return true;
    if ((options & NameSuffixes) &&
        firstMatch(category(NameSuffixes), module, type, [&](const CFSFilterRules& rules) {
            return rules.firstSuffixOf(entry.foldedName());
        }))
        return true;
    if ((options & DirPatterns) &&
        firstMatch(category(DirPatterns), module, type, [&](const CFSFilterRules& rules) {
            Entry::NameSubject subject(entry);
            return rules.firstPatternMatch(subject);
        }))
        return true;
    if ((options & FilePatterns) &&
        firstMatch(category(FilePatterns), module, type, [&](const CFSFilterRules& rules) {
            Entry::NameSubject subject(entry);
            return rules.firstPatternMatch(subject);
        }))
        return true;
    if ((options & PathPatterns) &&
        firstMatch(category(PathPatterns), module, type, [&](const CFSFilterRules& rules) {
            Entry::PathSubject subject(entry);
            return rules.firstPatternMatch(subject);
        }))
        return true;
    return false;
}

// Category tests ---------------------------------------------------------------------------------

bool CFSFilter::isExcludedDirectory(quint32 module, const QString& relativePath,
                                    const QString& name, bool isDirectory, quint32& type)
{
    return query(module, "CFSFilter::isExcludedDirectory", relativePath, name, Directories,
                 isDirectory, false, type);
}

bool CFSFilter::isExcludedDirectory(quint32 module, const QString& relativePath, quint32& type)
{
    return query(module, "CFSFilter::isExcludedDirectory", relativePath, QString(), Directories,
                 false, true, type);
}

bool CFSFilter::isExcludedFile(quint32 module, const QString& name, quint32& type)
{
    return query(module, "CFSFilter::isExcludedFile", QString(), name, Files, false, true, type);
}

bool CFSFilter::isExcludedPath(quint32 module, const QString& path, quint32& type)
{
    return query(module, "CFSFilter::isExcludedPath", path, QString(), Paths, false, true, type);
}

bool CFSFilter::isExcludedFileType(quint32 module, const QString& name, quint32& type)
{
    return query(module, "CFSFilter::isExcludedFileType", QString(), name, FileTypes, false, true,
                 type);
}

bool CFSFilter::hasExcludedNamePrefix(quint32 module, const QString& name, quint32& type)
{
    return query(module, "CFSFilter::hasExcludedNamePrefix", QString(), name, NamePrefixes, false,
                 true, type);
}

bool CFSFilter::hasExcludedNameSuffix(quint32 module, const QString& name, quint32& type)
{
    return query(module, "CFSFilter::hasExcludedNameSuffix", QString(), name, NameSuffixes, false,
                 true, type);
}

bool CFSFilter::matchesExcludedDirPattern(quint32 module, const QString& name, quint32& type)
{
    return query(module, "CFSFilter::matchesExcludedDirPattern", QString(), name, DirPatterns,
                 false, true, type);
}

bool CFSFilter::matchesExcludedFilePattern(quint32 module, const QString& name, quint32& type)
{
    return query(module, "CFSFilter::matchesExcludedFilePattern", QString(), name, FilePatterns,
                 false, true, type);
}

bool CFSFilter::matchesExcludedPathPattern(quint32 module, const QString& path, quint32& type)
{
    return query(module, "CFSFilter::matchesExcludedPathPattern", path, QString(), PathPatterns,
                 false, true, type);
}
