#include "ChannelInternal.h"
#include "InstanceChannel.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lodrin::instance {

using namespace detail;

namespace {

struct TCandidate
{
    QString path;
    struct stat status;
};

// The sockets of the directory, the one touched last first.
std::vector<TCandidate> Candidates(const QString& directory)
{
    std::vector<TCandidate> candidates;
    QDirIterator it(directory,
                    QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        TCandidate candidate{it.next(), {}};
        if (::lstat(QFile::encodeName(candidate.path).constData(), &candidate.status) == 0 &&
            S_ISSOCK(candidate.status.st_mode))
            candidates.push_back(candidate);
    }
    std::sort(candidates.begin(), candidates.end(), [](const TCandidate& a, const TCandidate& b) {
        const timespec& x = a.status.st_mtim;
        const timespec& y = b.status.st_mtim;
        if (x.tv_sec != y.tv_sec)
            return x.tv_sec > y.tv_sec;
        if (x.tv_nsec != y.tv_nsec)
            return x.tv_nsec > y.tv_nsec;
        return a.path < b.path;
    });
    return candidates;
}

// Removes a stale socket unless a new instance has put its own in its place meanwhile.
void RemoveStale(const TCandidate& candidate)
{
    const QByteArray native = QFile::encodeName(candidate.path);
    struct stat now;
    if (::lstat(native.constData(), &now) == 0 && now.st_dev == candidate.status.st_dev &&
        now.st_ino == candidate.status.st_ino)
        ::unlink(native.constData());
}

std::unique_ptr<QLocalSocket> ConnectToRunningInstance(const QString& directory)
{
    std::unique_ptr<QLocalSocket> socket;
    for (const TCandidate& candidate : Candidates(directory)) {
        switch (Connect(candidate.path, socket)) {
        case TConnectOutcome::Connected:
            return socket;
        case TConnectOutcome::Stale:
            RemoveStale(candidate);
            break;
        case TConnectOutcome::Unreachable:
            break;
        }
    }
    return nullptr;
}

QString Absolute(const QString& argument, const QString& base)
{
    if (argument.isEmpty() || argument.startsWith(QLatin1Char('/')))
        return argument;
    return base.endsWith(QLatin1Char('/')) ? base + argument : base + QLatin1Char('/') + argument;
}

// Sends one request and waits for its answer. Returns false when it was refused or the
// connection broke.
bool Exchange(QLocalSocket& socket, quint32 position, const QByteArray& bytes)
{
    QByteArray request = EncodeHeader(position, quint32(bytes.size()));
    request += bytes;
    if (socket.write(request) != request.size())
        return false;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(-1))
            return false;
    }
    while (socket.bytesAvailable() < AnswerBytes) {
        if (!socket.waitForReadyRead(-1))
            return false;
    }
    return qFromLittleEndian<quint32>(socket.read(AnswerBytes).constData()) != 0;
}

} // namespace

THandOffResult HandOff(const QStringList& arguments, const QString& workingDirectory)
{
    if (arguments.isEmpty())
        return THandOffResult::NoInstance;
    const QString directory = ChannelDirectory();
    if (directory.isEmpty())
        return THandOffResult::NoInstance;
    const std::unique_ptr<QLocalSocket> socket = ConnectToRunningInstance(directory);
    if (!socket)
        return THandOffResult::NoInstance;

    const QString base = QDir(workingDirectory).absolutePath();
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QByteArray text = QFile::encodeName(Absolute(arguments[i], base));
        text.append('\0');
        // The receiver would refuse it anyway; it does not get the chance to close on us.
        if (text.size() > qsizetype(MaxRequestBytes))
            return THandOffResult::Refused;
        if (!Exchange(*socket, quint32(i + 1), text))
            return THandOffResult::Refused;
    }
    // The arguments are delivered; whether the window could come to the front changes nothing.
    Exchange(*socket, 0, QByteArray());
    return THandOffResult::Accepted;
}

} // namespace lodrin::instance
