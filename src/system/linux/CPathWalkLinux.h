#pragma once

#include "system/linux/CUniqueDescriptorLinux.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// The walk from a path to the mount it lies on, as the kernel resolves it: symbolic links
// followed, and for a path that does not exist yet its nearest existing parent. It only asks
// the kernel and logs nothing; a caller that must not hang on a dead server makes the calls
// on a helper thread.
class CPathWalkLinux
{
public:
    CPathWalkLinux() = delete;

    struct TReached
    {
        int error = 0;
        // The nearest existing path on the way to the asked one, with links followed.
        QByteArray existingPath;
        // The same opened as a location only, when asked to hold it. Shared with a helper that may
        // still be using it.
        std::shared_ptr<const CUniqueDescriptorLinux> existing;
        std::optional<int> mountId;
        // Without a mount id: the existing path's canonical form.
        QString canonicalPath;
    };

    // The path with the working directory in front when it is relative.
    static int absolutePath(const QString& path, bool emptyIsWorkingDirectory, QByteArray& out);
    // The id of the mount that path (or with an empty path the open file fd) lies on, when the
    // kernel tells; ENOENT and the like otherwise.
    static int mountIdOf(int fd, const QByteArray& path, std::optional<int>& id);
    // Walks from path up to its nearest existing parent; a dangling symbolic link is followed to
    // where its target would be created. With hold, the parent found is kept open, so that the
    // mount the id names cannot go away and its id name another. Without hold, the mount id is
    // asked for.
    static TReached reach(QByteArray path, bool wantMountId, bool hold);
};
