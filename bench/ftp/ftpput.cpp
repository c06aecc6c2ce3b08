// lodrin-ftpput HOST PORT USER PASSWORD FILE REMOTEDIR [--active]
//
// Stores one file the way an upload run does: connect and log in, change to the remote
// directory or make it, store the file under its own name with a progress line per block on
// standard output, quit. Statuses and the protocol go to standard error. Exits with 0 only when
// the server accepted the file; SIGINT aborts the transfer, a second one disconnects.

#include "IdFTP.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

void onSignal(int)
{
    g_interrupts = g_interrupts + 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: lodrin-ftpput HOST PORT USER PASSWORD FILE REMOTEDIR [--active]\n");
    return 2;
}

// As the upload run does: a leading "/", and one trailing "/" dropped.
std::string normalised(std::string dir)
{
    if (dir.empty() || dir.front() != '/')
        dir.insert(dir.begin(), '/');
    if (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 7 || argc > 8 || (argc == 8 && std::string(argv[7]) != "--active"))
        return usage();
    char* end = nullptr;
    long port = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || port < 1 || port > 65535)
        return usage();
    const std::string file = argv[5];
    const std::string dir = normalised(argv[6]);
    const std::string name = file.substr(file.find_last_of('/') + 1);

    TIdFTP ftp;
    ftp.Host = argv[1];
    ftp.Port = int(port);
    ftp.Username = argv[3];
    ftp.Password = argv[4];
    ftp.Passive = argc != 8;

    TIdLogEvent log;
    log.OnSent = log.OnReceived = [](const std::string&, const std::string& data) {
        std::fputs(data.c_str(), stderr);
    };
    ftp.Intercept = &log;

    bool aborted = false;
    ftp.OnStatus = [&](TIdStatus status, const std::string& text) {
        aborted |= status == ftpAborted;
        std::fprintf(stderr, "%s\n", text.c_str());
    };

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    int handled = 0;
    TIdAntiFreeze antiFreeze;
    antiFreeze.OnProcess = [&] {
        if (g_interrupts > handled) {
            handled = g_interrupts;
            handled == 1 ? ftp.Abort() : ftp.Disconnect();
        }
    };
    ftp.AntiFreeze = &antiFreeze;

    using Clock = std::chrono::steady_clock;
    Clock::time_point start;
    std::int64_t total = 0;
    ftp.OnWorkBegin = [&](TWorkMode, std::int64_t size) {
        start = Clock::now();
        total = size;
    };
    ftp.OnWork = [&](TWorkMode, std::int64_t count) {
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        double rate = seconds > 0 ? double(count) / seconds / (1 << 20) : 0;
        std::printf("%lld/%lld bytes %.1f%% %.2f MiB/s\n", (long long)count, (long long)total,
                    total ? 100.0 * double(count) / double(total) : 100.0, rate);
    };

    try {
        ftp.Connect(true, 30000);
        try {
            ftp.ChangeDir(dir);
        } catch (const Exception&) {
        }
        if (ftp.RetrieveCurrentDir() != dir) {
            try {
                ftp.MakeDir(dir);
                ftp.ChangeDir(dir);
            } catch (const Exception&) {
            }
        }
        if (ftp.RetrieveCurrentDir() != dir) {
            std::fprintf(stderr, "lodrin-ftpput: cannot change to %s\n", dir.c_str());
            ftp.Quit();
            return 1;
        }
        ftp.SetTransferType(TIdFTPTransferType::ftBinary);
        ftp.Put(file, name);
        ftp.Quit();
    } catch (const Exception& e) {
        std::fprintf(stderr, "lodrin-ftpput: %s\n", e.what());
        return 1;
    }
    std::fflush(stdout);
    return aborted || g_interrupts ? 1 : 0;
}
