#include "fsFilter/CFSFilter.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"

#include <mutex>

namespace {

const char* const addNames[CFSFilter::categoryCount] = {
    "CFSFilter::addExcludeDirectory",  "CFSFilter::addExcludeFile",
    "CFSFilter::addExcludePath",       "CFSFilter::addExcludeFileType",
    "CFSFilter::addExcludeNamePrefix", "CFSFilter::addExcludeNameSuffix",
    "CFSFilter::addExcludeDirPattern", "CFSFilter::addExcludeFilePattern",
    "CFSFilter::addExcludePathPattern"};

int categoryIndex(CFSFilter::TCategory category)
{
    return qCountTrailingZeroBits(quint32(category));
}

bool isPatternCategory(CFSFilter::TCategory category)
{
    return category == CFSFilter::DirPatterns || category == CFSFilter::FilePatterns ||
           category == CFSFilter::PathPatterns;
}

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

CFSFilter::CFSFilter()
{
    addBuiltInRules();
}

CFSFilter::CFSFilter(const CFSFilter& other)
{
    copyFrom(other);
}

CFSFilter& CFSFilter::operator=(const CFSFilter& other)
{
    if (this != &other)
        copyFrom(other);
    return *this;
}

CFSFilter::~CFSFilter() = default;

void CFSFilter::copyFrom(const CFSFilter& other)
{
    // One lock at a time, the other filter's first: two filters assigned to each other at the
    // same time cannot wait for each other.
    for (int i = 0; i < categoryCount; ++i) {
        std::array<CFSFilterRules, moduleCount> copy;
        {
            const std::shared_lock lock(other.categories[i].lock);
            copy = other.categories[i].modules;
        }
        const std::unique_lock lock(categories[i].lock);
        categories[i].modules = copy;
    }
    std::array<quint32, moduleCount> optionsCopy;
    quint32 present = 0;
    {
        const std::shared_lock lock(other.optionsLock);
        optionsCopy = other.options;
        present = other.modulesWithOptions;
    }
    {
        const std::unique_lock lock(optionsLock);
        options = optionsCopy;
        modulesWithOptions = present;
    }
    setSpaceID(other.spaceID());
    setSpacePath(other.spacePath());
}

void CFSFilter::addBuiltInRules()
{
    const quint32 modules[] = {Watcher, Scanner, Archiver, CopyController};
    addModuleOptions(Watcher, Directories | Files | NameSuffixes | PathPatterns);
    for (const quint32 module : {Scanner, Archiver, CopyController})
        addModuleOptions(module, Directories | Files | NameSuffixes | FilePatterns | PathPatterns);
    for (const quint32 module : modules)
        addExcludeDirectory(module, workingFileType, QStringLiteral(".syncarium/"));
    for (const quint32 module : modules)
        addExcludeDirectory(module, workingFileType, QStringLiteral("~/"));
    for (const quint32 module : modules)
        addExcludeFile(module, workingFileType, QStringLiteral("~"));
    for (const quint32 module : modules)
        addExcludeNameSuffix(module, workingFileType, QStringLiteral(".syncarium"));
    for (const quint32 module : {Scanner, Archiver, CopyController})
        addExcludeFilePattern(module, workingFileType, QStringLiteral("^qt_temp\\.(.+)$"));
    for (const quint32 module : modules) {
        addExcludePathPattern(module, forkPathType,
                              QStringLiteral("((^(.*)/..namedfork/(.*)$)|(^(.*)/..namedfork$))"));
    }
    for (const quint32 module : modules) {
        addExcludePathPattern(
            module, shortNameType,
            QStringLiteral("((^(.*)/([A-Z_0-9]{6})((~[0-9]){1})(((\\.{1})([A-Z_0-9]{0,3})){0,1})/"
                           "(.*)$)|(^(.*)/[A-Z_0-9]{6})((~[0-9]){1})(((\\.{1})([A-Z_0-9]{0,3})){0,"
                           "1})$)"));
    }
}

int CFSFilter::moduleIndex(quint32 module, const char* function)
{
    if (module != 0 && (module & (module - 1)) == 0 && module <= CopyController)
        return qCountTrailingZeroBits(module);
    SY_WARNING_AT(function) << "not a single module bit:"
                            << QStringLiteral("0x%1").arg(module, 0, 16);
    return -1;
}

CFSFilter::Category& CFSFilter::category(TCategory category)
{
    return categories[categoryIndex(category)];
}

const CFSFilter::Category& CFSFilter::category(TCategory category) const
{
    return categories[categoryIndex(category)];
}

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
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFilteredRelative");
    if (index < 0)
        return false;
    Entry entry(relativePath, name);
    return walk(index, entry, options, isDirectory, false, type);
}

bool CFSFilter::isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                       const QString& name, quint32 options, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isFileFilteredRelative");
    if (index < 0)
        return false;
    Entry entry(relativePath, name);
    return walk(index, entry, options, false, true, type);
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

bool CFSFilter::optionsOf(int module, quint32& moduleOptions) const
{
    const std::shared_lock lock(optionsLock);
    if (!(modulesWithOptions & (1U << module)))
        return false;
    moduleOptions = options[module];
    return true;
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

// Options ----------------------------------------------------------------------------------------

quint32 CFSFilter::changeOptions(quint32 module, quint32 moduleOptions, bool replace,
                                 const char* function)
{
    const int index = moduleIndex(module, function);
    if (index < 0)
        return 0;
    const std::unique_lock lock(optionsLock);
    const bool present = modulesWithOptions & module;
    const quint32 before = present ? options[index] : 0;
    options[index] = (present && !replace) ? (before | moduleOptions) : moduleOptions;
    modulesWithOptions |= module;
    return before;
}

quint32 CFSFilter::addModuleOptions(quint32 module, quint32 moduleOptions)
{
    return changeOptions(module, moduleOptions, false, "CFSFilter::addModuleOptions");
}

quint32 CFSFilter::setModuleOptions(quint32 module, quint32 moduleOptions)
{
    return changeOptions(module, moduleOptions, true, "CFSFilter::setModuleOptions");
}

CFSFilter::TOptions CFSFilter::moduleOptions() const
{
    const std::shared_lock lock(optionsLock);
    TOptions result;
    for (int i = 0; i < moduleCount; ++i) {
        if (modulesWithOptions & (1U << i))
            result.insert(1U << i, options[i]);
    }
    return result;
}

quint32 CFSFilter::moduleOptions(quint32 module) const
{
    const int index = moduleIndex(module, "CFSFilter::moduleOptions");
    quint32 result = 0;
    if (index >= 0)
        optionsOf(index, result);
    return result;
}

bool CFSFilter::enabled(TCategory category, quint32 module, const char* function) const
{
    const int index = moduleIndex(module, function);
    quint32 moduleOptions = 0;
    return index >= 0 && optionsOf(index, moduleOptions) && (moduleOptions & category);
}

bool CFSFilter::excludesDirectoryEnabled(quint32 module) const
{
    return enabled(Directories, module, "CFSFilter::excludesDirectoryEnabled");
}

bool CFSFilter::excludesFileEnabled(quint32 module) const
{
    return enabled(Files, module, "CFSFilter::excludesFileEnabled");
}

bool CFSFilter::excludesPathEnabled(quint32 module) const
{
    return enabled(Paths, module, "CFSFilter::excludesPathEnabled");
}

bool CFSFilter::excludesFileTypeEnabled(quint32 module) const
{
    return enabled(FileTypes, module, "CFSFilter::excludesFileTypeEnabled");
}

bool CFSFilter::excludesNamePrefixEnabled(quint32 module) const
{
    return enabled(NamePrefixes, module, "CFSFilter::excludesNamePrefixEnabled");
}

bool CFSFilter::excludesNameSuffixEnabled(quint32 module) const
{
    return enabled(NameSuffixes, module, "CFSFilter::excludesNameSuffixEnabled");
}

bool CFSFilter::excludesDirPatternEnabled(quint32 module) const
{
    return enabled(DirPatterns, module, "CFSFilter::excludesDirPatternEnabled");
}

bool CFSFilter::excludesFilePatternEnabled(quint32 module) const
{
    return enabled(FilePatterns, module, "CFSFilter::excludesFilePatternEnabled");
}

bool CFSFilter::excludesPathPatternEnabled(quint32 module) const
{
    return enabled(PathPatterns, module, "CFSFilter::excludesPathPatternEnabled");
}

// Rule lists -------------------------------------------------------------------------------------

CFSFilter::TRules CFSFilter::rules(TCategory which) const
{
    const Category& rules = category(which);
    const std::shared_lock lock(rules.lock);
    TRules result;
    for (int i = 0; i < moduleCount; ++i) {
        if (!rules.modules[i].isEmpty())
            result.insert(1U << i, rules.modules[i].settings());
    }
    return result;
}

CFSFilter::TSettings CFSFilter::rules(TCategory which, quint32 module, const char* function) const
{
    const int index = moduleIndex(module, function);
    if (index < 0)
        return TSettings();
    const Category& rules = category(which);
    const std::shared_lock lock(rules.lock);
    return rules.modules[index].settings();
}

CFSFilter::TRules CFSFilter::excludesDirectory() const
{
    return rules(Directories);
}

CFSFilter::TSettings CFSFilter::excludesDirectory(quint32 module) const
{
    return rules(Directories, module, "CFSFilter::excludesDirectory");
}

CFSFilter::TRules CFSFilter::excludesFile() const
{
    return rules(Files);
}

CFSFilter::TSettings CFSFilter::excludesFile(quint32 module) const
{
    return rules(Files, module, "CFSFilter::excludesFile");
}

CFSFilter::TRules CFSFilter::excludesPath() const
{
    return rules(Paths);
}

CFSFilter::TSettings CFSFilter::excludesPath(quint32 module) const
{
    return rules(Paths, module, "CFSFilter::excludesPath");
}

CFSFilter::TRules CFSFilter::excludesFileType() const
{
    return rules(FileTypes);
}

CFSFilter::TSettings CFSFilter::excludesFileType(quint32 module) const
{
    return rules(FileTypes, module, "CFSFilter::excludesFileType");
}

CFSFilter::TRules CFSFilter::excludesNamePrefix() const
{
    return rules(NamePrefixes);
}

CFSFilter::TSettings CFSFilter::excludesNamePrefix(quint32 module) const
{
    return rules(NamePrefixes, module, "CFSFilter::excludesNamePrefix");
}

CFSFilter::TRules CFSFilter::excludesNameSuffix() const
{
    return rules(NameSuffixes);
}

CFSFilter::TSettings CFSFilter::excludesNameSuffix(quint32 module) const
{
    return rules(NameSuffixes, module, "CFSFilter::excludesNameSuffix");
}

CFSFilter::TRules CFSFilter::excludesDirPattern() const
{
    return rules(DirPatterns);
}

CFSFilter::TSettings CFSFilter::excludesDirPattern(quint32 module) const
{
    return rules(DirPatterns, module, "CFSFilter::excludesDirPattern");
}

CFSFilter::TRules CFSFilter::excludesFilePattern() const
{
    return rules(FilePatterns);
}

CFSFilter::TSettings CFSFilter::excludesFilePattern(quint32 module) const
{
    return rules(FilePatterns, module, "CFSFilter::excludesFilePattern");
}

CFSFilter::TRules CFSFilter::excludesPathPattern() const
{
    return rules(PathPatterns);
}

CFSFilter::TSettings CFSFilter::excludesPathPattern(quint32 module) const
{
    return rules(PathPatterns, module, "CFSFilter::excludesPathPattern");
}

// Adding and removing ----------------------------------------------------------------------------

CFSFilterSetting CFSFilter::makeSetting(TCategory category, quint32 type, const QString& value)
{
    return isPatternCategory(category) ? CFSFilterSetting::pattern(value, type)
                                       : CFSFilterSetting(value, type);
}

bool CFSFilter::addExclude(TCategory which, quint32 module, const CFSFilterSetting& setting)
{
    const char* function = addNames[categoryIndex(which)];
    const int index = moduleIndex(module, function);
    if (index < 0)
        return false;
    if (!setting.isValid()) {
        SY_WARNING_AT(function) << "invalid pattern" << setting.value
                                << "refused:" << setting.errorString();
        return false;
    }
    Category& rules = category(which);
    const std::unique_lock lock(rules.lock);
    return rules.modules[index].add(setting);
}

bool CFSFilter::addExcludeDirectory(quint32 module, quint32 type, const QString& value)
{
    return addExclude(Directories, module, makeSetting(Directories, type, value));
}

bool CFSFilter::addExcludeFile(quint32 module, quint32 type, const QString& value)
{
    return addExclude(Files, module, makeSetting(Files, type, value));
}

bool CFSFilter::addExcludePath(quint32 module, quint32 type, const QString& value)
{
    return addExclude(Paths, module, makeSetting(Paths, type, value));
}

bool CFSFilter::addExcludeFileType(quint32 module, quint32 type, const QString& value)
{
    return addExclude(FileTypes, module, makeSetting(FileTypes, type, value));
}

bool CFSFilter::addExcludeNamePrefix(quint32 module, quint32 type, const QString& value)
{
    return addExclude(NamePrefixes, module, makeSetting(NamePrefixes, type, value));
}

bool CFSFilter::addExcludeNameSuffix(quint32 module, quint32 type, const QString& value)
{
    return addExclude(NameSuffixes, module, makeSetting(NameSuffixes, type, value));
}

bool CFSFilter::addExcludeDirPattern(quint32 module, quint32 type, const QString& value)
{
    return addExclude(DirPatterns, module, makeSetting(DirPatterns, type, value));
}

bool CFSFilter::addExcludeFilePattern(quint32 module, quint32 type, const QString& value)
{
    return addExclude(FilePatterns, module, makeSetting(FilePatterns, type, value));
}

bool CFSFilter::addExcludePathPattern(quint32 module, quint32 type, const QString& value)
{
    return addExclude(PathPatterns, module, makeSetting(PathPatterns, type, value));
}

bool CFSFilter::remove(TCategory which, quint32 module, const QString& value, const char* function)
{
    const int index = moduleIndex(module, function);
    if (index < 0)
        return false;
    Category& rules = category(which);
    const std::unique_lock lock(rules.lock);
    return rules.modules[index].remove(value);
}

bool CFSFilter::removeExcludeDirectory(quint32 module, const QString& value)
{
    return remove(Directories, module, value, "CFSFilter::removeExcludeDirectory");
}

bool CFSFilter::removeExcludeFile(quint32 module, const QString& value)
{
    return remove(Files, module, value, "CFSFilter::removeExcludeFile");
}

bool CFSFilter::removeExcludePath(quint32 module, const QString& value)
{
    return remove(Paths, module, value, "CFSFilter::removeExcludePath");
}

bool CFSFilter::removeExcludeFileType(quint32 module, const QString& value)
{
    return remove(FileTypes, module, value, "CFSFilter::removeExcludeFileType");
}

bool CFSFilter::removeExcludeNamePrefix(quint32 module, const QString& value)
{
    return remove(NamePrefixes, module, value, "CFSFilter::removeExcludeNamePrefix");
}

bool CFSFilter::removeExcludeNameSuffix(quint32 module, const QString& value)
{
    return remove(NameSuffixes, module, value, "CFSFilter::removeExcludeNameSuffix");
}

bool CFSFilter::removeExcludeDirPattern(quint32 module, const QString& value)
{
    return remove(DirPatterns, module, value, "CFSFilter::removeExcludeDirPattern");
}

bool CFSFilter::removeExcludeFilePattern(quint32 module, const QString& value)
{
    return remove(FilePatterns, module, value, "CFSFilter::removeExcludeFilePattern");
}

bool CFSFilter::removeExcludePathPattern(quint32 module, const QString& value)
{
    return remove(PathPatterns, module, value, "CFSFilter::removeExcludePathPattern");
}

// Category tests ---------------------------------------------------------------------------------

bool CFSFilter::isExcludedDirectory(quint32 module, const QString& relativePath,
                                    const QString& name, bool isDirectory, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isExcludedDirectory");
    if (index < 0)
        return false;
    Entry entry(relativePath, name);
    return walk(index, entry, Directories, isDirectory, false, type);
}

bool CFSFilter::isExcludedDirectory(quint32 module, const QString& relativePath, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isExcludedDirectory");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(relativePath, none);
    return walk(index, entry, Directories, false, true, type);
}

bool CFSFilter::isExcludedFile(quint32 module, const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isExcludedFile");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(none, name);
    return walk(index, entry, Files, false, true, type);
}

bool CFSFilter::isExcludedPath(quint32 module, const QString& path, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isExcludedPath");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(path, none);
    return walk(index, entry, Paths, false, true, type);
}

bool CFSFilter::isExcludedFileType(quint32 module, const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::isExcludedFileType");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(none, name);
    return walk(index, entry, FileTypes, false, true, type);
}

bool CFSFilter::hasExcludedNamePrefix(quint32 module, const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::hasExcludedNamePrefix");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(none, name);
    return walk(index, entry, NamePrefixes, false, true, type);
}

bool CFSFilter::hasExcludedNameSuffix(quint32 module, const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::hasExcludedNameSuffix");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(none, name);
    return walk(index, entry, NameSuffixes, false, true, type);
}

bool CFSFilter::matchesExcludedDirPattern(quint32 module, const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::matchesExcludedDirPattern");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(none, name);
    return walk(index, entry, DirPatterns, false, true, type);
}

bool CFSFilter::matchesExcludedFilePattern(quint32 module, const QString& name, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::matchesExcludedFilePattern");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(none, name);
    return walk(index, entry, FilePatterns, false, true, type);
}

bool CFSFilter::matchesExcludedPathPattern(quint32 module, const QString& path, quint32& type)
{
    type = 0;
    const int index = moduleIndex(module, "CFSFilter::matchesExcludedPathPattern");
    if (index < 0)
        return false;
    const QString none;
    Entry entry(path, none);
    return walk(index, entry, PathPatterns, false, true, type);
}

// Space ------------------------------------------------------------------------------------------

quint32 CFSFilter::spaceID() const
{
    const std::shared_lock lock(pathLock);
    return space;
}

void CFSFilter::setSpaceID(quint32 spaceID)
{
    const std::unique_lock lock(pathLock);
    space = spaceID;
}

QString CFSFilter::spacePath() const
{
    const std::shared_lock lock(pathLock);
    return path;
}

void CFSFilter::setSpacePath(const QString& spacePath)
{
    const std::unique_lock lock(pathLock);
    path = spacePath;
}
