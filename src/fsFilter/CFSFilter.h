#pragma once

#include "fsFilter/CFSFilterRules.h"
#include "fsFilter/CFSFilterSetting.h"

#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QString>
#include <QtGlobal>

#include <array>
#include <shared_mutex>

// The rule store that tells the client's modules which file-system entries to leave alone.
// Rules are kept per module and per category; a module's option bits switch the categories on
// for it. A query names one module bit and one entry (its parent path and its name) and answers
// true when the entry is filtered; type receives the type of the rule that matched, 0 when none
// did. Every new filter holds the built-in rules that hide the client's working files and names
// some platforms cannot store. Each category and the options have their own read-write lock, so
// a filter may be queried from several threads while another one changes it.
class CFSFilter
{
public:
    // One bit per client module; every operation takes exactly one of them.
    enum TModule : quint32
    {
        Watcher = 0x01,
        Scanner = 0x02,
        Archiver = 0x04,
        Synchronizer = 0x08,
        RuleEngine = 0x10,
        MessageBuilder = 0x20,
        CopyController = 0x40,
    };
    static constexpr int moduleCount = 7;

    // The option bit of each category, in the order a query consults them.
    enum TCategory : quint32
    {
        Directories = 0x001,
        Files = 0x002,
        Paths = 0x004,
        FileTypes = 0x008,
        NamePrefixes = 0x010,
        NameSuffixes = 0x020,
        DirPatterns = 0x040,
        FilePatterns = 0x080,
        PathPatterns = 0x100,
    };
    static constexpr int categoryCount = 9;

    // Types of the built-in rules.
    static constexpr quint32 workingFileType = 4;
    static constexpr quint32 forkPathType = 0xFFFFFFFE;
    static constexpr quint32 shortNameType = 0xFFFFFFFF;

    using TSettings = QList<CFSFilterSetting>;
    using TRules = QMultiMap<quint32, TSettings>;
    using TOptions = QMap<quint32, quint32>;

    CFSFilter();
    CFSFilter(const CFSFilter& other);
    CFSFilter& operator=(const CFSFilter& other);

    virtual ~CFSFilter();

    // Queries. The relative path is the parent path relative to the space, with "/" at both
    // ends.
    virtual bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                            const QString& name, quint32 options, bool isDirectory, quint32& type);
    virtual bool isFileFiltered(const quint32& module, const QString& spacePath,
                                const QString& path, const QString& name, quint32 options,
                                quint32& type);
    virtual bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                            const QString& name, bool isDirectory, quint32& type);
    virtual bool isFileFiltered(const quint32& module, const QString& spacePath,
                                const QString& path, const QString& name, quint32& type);
    virtual bool isFilteredRelative(const quint32& module, const QString& relativePath,
                                    const QString& name, quint32 options, bool isDirectory,
                                    quint32& type);
    virtual bool isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                        const QString& name, quint32 options, quint32& type);
    virtual bool isFilteredRelative(const quint32& module, const QString& relativePath,
                                    const QString& name, bool isDirectory, quint32& type);
    virtual bool isFileFilteredRelative(const quint32& module, const QString& relativePath,
                                        const QString& name, quint32& type);

    // Options; both return the module's options before the change, 0 for a new module.
    virtual quint32 addModuleOptions(quint32 module, quint32 options);
    virtual quint32 setModuleOptions(quint32 module, quint32 options);
    virtual TOptions moduleOptions() const;
    virtual quint32 moduleOptions(quint32 module) const;

    // Copies of the rules: of every module, or of one module (empty for none).
    virtual TRules excludesDirectory() const;
    virtual TSettings excludesDirectory(quint32 module) const;
    virtual TRules excludesFile() const;
    virtual TSettings excludesFile(quint32 module) const;
    virtual TRules excludesPath() const;
    virtual TSettings excludesPath(quint32 module) const;
    virtual TRules excludesFileType() const;
    virtual TSettings excludesFileType(quint32 module) const;
    virtual TRules excludesNamePrefix() const;
    virtual TSettings excludesNamePrefix(quint32 module) const;
    virtual TRules excludesNameSuffix() const;
    virtual TSettings excludesNameSuffix(quint32 module) const;
    virtual TRules excludesDirPattern() const;
    virtual TSettings excludesDirPattern(quint32 module) const;
    virtual TRules excludesFilePattern() const;
    virtual TSettings excludesFilePattern(quint32 module) const;
    virtual TRules excludesPathPattern() const;
    virtual TSettings excludesPathPattern(quint32 module) const;

    // Whether the module has options with the category's bit set.
    virtual bool excludesDirectoryEnabled(quint32 module) const;
    virtual bool excludesFileEnabled(quint32 module) const;
    virtual bool excludesPathEnabled(quint32 module) const;
    virtual bool excludesFileTypeEnabled(quint32 module) const;
    virtual bool excludesNamePrefixEnabled(quint32 module) const;
    virtual bool excludesNameSuffixEnabled(quint32 module) const;
    virtual bool excludesDirPatternEnabled(quint32 module) const;
    virtual bool excludesFilePatternEnabled(quint32 module) const;
    virtual bool excludesPathPatternEnabled(quint32 module) const;

    // True when added: a value equal to a held one (ignoring case) is not added again, and a
    // pattern that does not compile is refused with a warning.
    virtual bool addExcludeDirectory(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludeFile(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludePath(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludeFileType(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludeNamePrefix(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludeNameSuffix(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludeDirPattern(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludeFilePattern(quint32 module, quint32 type, const QString& value);
    virtual bool addExcludePathPattern(quint32 module, quint32 type, const QString& value);

    // True when a rule with an equal value (ignoring case) was removed.
    virtual bool removeExcludeDirectory(quint32 module, const QString& value);
    virtual bool removeExcludeFile(quint32 module, const QString& value);
    virtual bool removeExcludePath(quint32 module, const QString& value);
    virtual bool removeExcludeFileType(quint32 module, const QString& value);
    virtual bool removeExcludeNamePrefix(quint32 module, const QString& value);
    virtual bool removeExcludeNameSuffix(quint32 module, const QString& value);
    virtual bool removeExcludeDirPattern(quint32 module, const QString& value);
    virtual bool removeExcludeFilePattern(quint32 module, const QString& value);
    virtual bool removeExcludePathPattern(quint32 module, const QString& value);

    // The tests of one category each.
    virtual bool isExcludedDirectory(quint32 module, const QString& relativePath,
                                     const QString& name, bool isDirectory, quint32& type);
    virtual bool isExcludedDirectory(quint32 module, const QString& relativePath, quint32& type);
    virtual bool isExcludedFile(quint32 module, const QString& name, quint32& type);
    virtual bool isExcludedPath(quint32 module, const QString& path, quint32& type);
    virtual bool isExcludedFileType(quint32 module, const QString& name, quint32& type);
    virtual bool hasExcludedNamePrefix(quint32 module, const QString& name, quint32& type);
    virtual bool hasExcludedNameSuffix(quint32 module, const QString& name, quint32& type);
    virtual bool matchesExcludedDirPattern(quint32 module, const QString& name, quint32& type);
    virtual bool matchesExcludedFilePattern(quint32 module, const QString& name, quint32& type);
    virtual bool matchesExcludedPathPattern(quint32 module, const QString& path, quint32& type);

    // Adds a rule made beforehand (a pattern already compiled) to one category; what the add
    // operations above do once they have made the rule.
    bool addExclude(TCategory category, quint32 module, const CFSFilterSetting& setting);
    // The rule a category keeps for value: a compiled pattern for the pattern categories.
    static CFSFilterSetting makeSetting(TCategory category, quint32 type, const QString& value);

    quint32 spaceID() const;
    void setSpaceID(quint32 spaceID);
    QString spacePath() const;
    void setSpacePath(const QString& spacePath);

    // Index 0 to 6 of a single module bit, -1 (with a warning naming function) for anything else.
    static int moduleIndex(quint32 module, const char* function);

protected:
    // The parent path relative to the space, with "/" at both ends, as the queries compare it.
    static QString relativePath(const QString& spacePath, const QString& path);

private:
    struct Category
    {
        std::array<CFSFilterRules, moduleCount> modules;
        mutable std::shared_mutex lock;
    };
    struct Entry;

    void addBuiltInRules();
    Category& category(TCategory category);
    const Category& category(TCategory category) const;
    TRules rules(TCategory category) const;
    TSettings rules(TCategory category, quint32 module, const char* function) const;
    bool enabled(TCategory category, quint32 module, const char* function) const;
    bool remove(TCategory category, quint32 module, const QString& value, const char* function);
    quint32 changeOptions(quint32 module, quint32 options, bool replace, const char* function);
    void copyFrom(const CFSFilter& other);

    bool query(quint32 module, const char* function, const QString& relativePath,
               const QString& name, quint32 options, bool isDirectory, bool fileWalk,
               quint32& type) const;
    bool walk(int module, Entry& entry, quint32 options, bool isDirectory, bool fileWalk,
              quint32& type) const;
    bool optionsOf(int module, quint32& options) const;

    // One lock per category, in the order of TCategory. The standard read-write lock rather than
    // Qt's: ThreadSanitizer sees through it, while the lock-free path of an uninstrumented Qt
    // looks to it like no lock at all.
    std::array<Category, categoryCount> categories;
    std::array<quint32, moduleCount> options{};
    quint32 modulesWithOptions = 0;
    mutable std::shared_mutex optionsLock;
    quint32 space = 0;
    QString path;
    mutable std::shared_mutex pathLock;
};
