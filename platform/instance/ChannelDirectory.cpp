#include "InstanceChannel.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace lodrin::instance {

namespace {

QString ChosenDirectory()
{
    const QByteArray overridden = qgetenv("LODRIN_INSTANCE_DIR");
    if (!overridden.isEmpty())
        return QFile::decodeName(overridden);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/'))
        return QFile::decodeName(runtime) + QStringLiteral("/lodrin");
    return QStringLiteral("/tmp/lodrin-%1").arg(::geteuid());
}

} // namespace

QString ChannelDirectory()
{
    const QString directory = ChosenDirectory();
    const QByteArray native = QFile::encodeName(directory);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    // lstat: in /tmp anyone may have put a link or a directory of their own under our name.
    struct stat status;
    if (::lstat(native.constData(), &status) != 0)
        return QString();
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QString();
    return directory;
}

} // namespace lodrin::instance
