#pragma once

#include "PathRules.h"

#include <QChar>
#include <QString>

/// The remote directory that receives currentFile: the file's directory below localTopDir,
/// repeated below remoteTopDir. Either top may carry one trailing separator. The result never
/// ends with "/" unless it is "/". Empty when currentFile is empty, has no directory part, or
/// does not lie below localTopDir (compared by the style's rules, so case-insensitively under
/// Windows). The part below the top keeps the case of currentFile; remoteTopDir is used as given.
QString MapRemoteDirectory(PathStyle style, const QString& currentFile, const QString& localTopDir,
                           const QString& remoteTopDir);

/// A copy of text with every from replaced by to.
QString ReplaceChar(const QString& text, QChar from, QChar to);

/// An absolute, cleaned path of the file a command-line argument names: a relative argument is
/// taken against workingDirectory, "." and empty components are dropped, ".." removes the
/// component before it, and a file: URL on this host becomes its percent-decoded path.
/// A ".." never moves the path to another file: after a symbolic link it resolves the link
/// first; after a component that is not a directory the argument names nothing and is returned
/// unchanged. Whatever cannot be read as a local path (another scheme or host, an empty text,
/// a relative argument without an absolute workingDirectory) is returned unchanged.
QString NormalizeArgument(const QString& argument, const QString& workingDirectory);
