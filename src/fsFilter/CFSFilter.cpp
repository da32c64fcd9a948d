#include "fsFilter/CFSFilter.h"

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

} // namespace

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

// Options ----------------------------------------------------------------------------------------

bool CFSFilter::optionsOf(int module, quint32& moduleOptions) const
{
    const std::shared_lock lock(optionsLock);
    if (!(modulesWithOptions & (1U << module)))
        return false;
    moduleOptions = options[module];
    return true;
}

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
