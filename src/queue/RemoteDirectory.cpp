#include "RemoteDirectory.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <string>

QString MapRemoteDirectory(PathStyle style, const QString& currentFile, const QString& localTopDir,
                           const QString& remoteTopDir)
{
    if (currentFile.isEmpty())
        return {};

    const std::string file = currentFile.toStdString();
    const std::string dirPart = ExtractFileDir(style, file);
    std::string dir = dirPart;
    if (HasTrailingDelimiter(style, dir))
        dir.pop_back();
    std::string top = localTopDir.toStdString();
    const bool haveTop = !top.empty();
    if (HasTrailingDelimiter(style, top))
        top.pop_back();

    // A top of "/" (or "\") is the root and is left empty by the step above; the emptiness test
    // therefore looks at the texts as given, so that a root top still holds the files below it.
    if (dirPart.empty() || !haveTop || !PathStartsWith(style, dir, top))
        return {};
    if (dir.size() != top.size() && dir[top.size()] != PathDelimiter(style))
        return {};

    QString below = QString::fromStdString(dir.size() > top.size() ? dir.substr(top.size() + 1)
                                                                   : std::string());
    // A "\" in a POSIX name is an ordinary character, not a separator to convert.
    if (style == PathStyle::Windows)
        below = ReplaceChar(below, QLatin1Char('\\'), QLatin1Char('/'));

    QString remote = remoteTopDir;
    if (!remote.endsWith(QLatin1Char('/')))
        remote += QLatin1Char('/');
    remote += below;
    if (remote.endsWith(QLatin1Char('/')))
        remote.chop(1);
    if (remote.isEmpty())
        remote = QStringLiteral("/");
    return remote;
}

QString ReplaceChar(const QString& text, QChar from, QChar to)
{
    QString result = text;
    for (QChar& c : result) {
        if (c == from)
            c = to;
    }
    return result;
}

namespace {

// "scheme://..." or "file:/...": the argument is a URL, not a relative path.
bool LooksLikeUrl(const QString& text)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text).hasMatch() ||
           text.startsWith(QLatin1String("file:/"), Qt::CaseInsensitive);
}

// The local path of a file: URL on this host, or an empty text.
QString LocalPathOfUrl(const QString& text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0 ||
        url.hasQuery() || url.hasFragment())
        return {};
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return {};
    // Decode to bytes first: a file name's bytes need not be UTF-8.
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.startsWith('/') || bytes.contains('\0'))
        return {};
    return QFile::decodeName(bytes);
}

QString JoinAbsolute(const QStringList& parts)
{
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

} // namespace

QString NormalizeArgument(const QString& argument, const QString& workingDirectory)
{
    if (argument.isEmpty() || argument.contains(QChar(0)))
        return argument;

    QString path;
    if (LooksLikeUrl(argument)) {
        path = LocalPathOfUrl(argument);
        if (path.isEmpty())
            return argument;
    } else if (argument.startsWith(QLatin1Char('/'))) {
        path = argument;
    } else {
        if (!workingDirectory.startsWith(QLatin1Char('/')))
            return argument;
        path = workingDirectory + QLatin1Char('/') + argument;
    }

    const QStringList input = path.split(QLatin1Char('/'));
    QStringList parts;
    for (const QString& part : input) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part != QLatin1String("..")) {
            parts.append(part);
            continue;
        }
        if (parts.isEmpty())
            continue; // "/.." is "/"
        // The kernel takes ".." from wherever the path has led so far, which after a symbolic
        // link is not the lexical parent. Resolve such a prefix before stepping up.
        const QFileInfo prefix(JoinAbsolute(parts));
        if (prefix.isSymLink()) {
            const QString target = prefix.canonicalFilePath();
            if (target.isEmpty() || !QFileInfo(target).isDir())
                return argument;
            parts = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        } else if (!prefix.isDir()) {
            return argument; // the path leads through a missing or non-directory component
        }
        if (!parts.isEmpty())
            parts.removeLast();
    }

    QString result = JoinAbsolute(parts);
    // Keep what marks the path as a directory: "a.html/" names no file, nor does "a.html/.".
    const QString& last = input.last();
    const bool namesDirectory =
        last.isEmpty() || last == QLatin1String(".") || last == QLatin1String("..");
    if (namesDirectory && !parts.isEmpty())
        result += QLatin1Char('/');
    return result;
}
