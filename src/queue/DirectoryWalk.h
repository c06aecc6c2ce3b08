#pragma once

#include <QString>

#include <functional>

/// Walks the tree below dir depth first: reports every entry that is not a directory, in the
/// order the file system lists them (hidden files included, "." and ".." skipped), and walks a
/// subdirectory's whole tree before going on with the rest of its directory. Symbolic links are
/// followed; a link back to a directory on the current path is not entered again, so the walk
/// always ends. onDirectoryDone runs when each directory's walk ends, nested ones and dir
/// included, also for a directory that cannot be read (which adds nothing). Reported paths are
/// dir, a "/" unless dir ends with one, and the names as listed.
void WalkDirectoryTree(const QString& dir, const std::function<void(const QString& file)>& onFile,
                       const std::function<void()>& onDirectoryDone);
