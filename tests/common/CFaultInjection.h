#pragma once

#include "common/CTestChild.h"

#include <QString>

#include <cerrno>
#include <functional>

// What the preloaded fault shim is to do in a child process.
struct CFaultPlan
{
    // Comma list of call families: open, read, write, rename, link, unlink, fsync, close,
    // copy_file_range, mkdir, ftruncate, or all.
    QString calls = QStringLiteral("all");
    // Only calls on paths, or descriptors open on paths, below this prefix count.
    QString pathPrefix;
    // The Nth counted call fails (or kills); 0 only counts.
    int at = 0;
    int error = EIO;
    // Every counted call from the Nth on fails: a disk that stays full.
    bool sticky = false;
    // SIGKILL before the Nth call instead of failing it.
    bool kill = false;
    // renameat2 with flags answers EINVAL, as on NFS, CIFS and FUSE file systems.
    bool noRenameFlags = false;
    // link and linkat answer EPERM, as on file systems without hard links.
    bool noLinks = false;
};

// A child's outcome, "passed" when the case passed in it.
struct CFaultOutcome : CChildOutcome
{
    // Counted calls while armed; -1 when the child left no report.
    qint64 calls = -1;
};

// Runs a test case again in a child process under the fault shim (an LD_PRELOAD library that
// fails or kills at the Nth system call), for what a failing disk or a crash leaves behind.
// Inside the child, the case builds its objects on folder(), arms the shim around the
// operation and returns; the parent checks what is on disk.
class CFaultInjection
{
public:
    // Set in the environment of a child that runs under the shim.
    static constexpr const char* childVariable = "SY_FAULT_CHILD";
    // True inside a child that runs under the shim.
    static bool isInjected() { return qEnvironmentVariableIsSet(childVariable); }
    // Inside such a child: the plan's path prefix, the folder the parent prepared.
    static QString folder() { return qEnvironmentVariable("SY_FAULT_PATH"); }
    // Counting starts only here, so that setting up the case is never struck.
    static void arm(bool on = true);
    static void disarm() { arm(false); }
    // Runs the current test function (with its data row) again in a child under the shim.
    static CFaultOutcome runCurrentCase(const CFaultPlan& plan);
    // Mounts store at mountPoint through bindfs, whose server stores every file written there
    // with one bit flipped at offset: a home that keeps other bytes than it was given while the
    // system's cache holds the right ones. Only in a private mount namespace; false where
    // /dev/fuse or bindfs is missing or the mount failed.
    static bool mountCorrupting(const QString& store, const QString& mountPoint, qint64 offset);
    // Kills the current case's child at N = 1, 2, ... until one completes without being
    // killed; prepare() runs before each child, check(N) after each killed one. Returns the
    // number of kill points tried; a child that fails or does not start fails the case.
    static int killSweep(CFaultPlan plan, const std::function<void()>& prepare,
                         const std::function<void(int)>& check);
};
