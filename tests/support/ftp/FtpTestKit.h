#pragma once

#include "IdFTP.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

// Attaches to a client and writes down, in order, everything it reports: statuses, the bytes
// of the control connection, work events, login and disconnection notifications, and pumps.
struct Recorder
{
    TIdFTP& ftp;
    TIdLogEvent log;
    TIdAntiFreeze antiFreeze;
    std::vector<std::string> events;
    std::vector<std::string> sent;
    std::vector<std::int64_t> work;
    std::int64_t workBegin = -1;
    int workEnds = 0;
    int disconnects = 0;
    int pumps = 0;
    bool tracePumps = false;
    std::function<void()> onPump;
    std::function<void(std::int64_t)> onWork;

    explicit Recorder(TIdFTP& client) : ftp(client)
    {
        ftp.Intercept = &log;
        ftp.AntiFreeze = &antiFreeze;
        log.OnSent = [this](const std::string&, const std::string& data) {
            sent.push_back(data);
            events.push_back("sent " + data);
        };
        log.OnReceived = [this](const std::string&, const std::string& data) {
            events.push_back("recv " + data);
        };
        antiFreeze.OnProcess = [this] {
            ++pumps;
            if (tracePumps)
                events.push_back("pump");
            QCoreApplication::processEvents();
            if (onPump)
                onPump();
        };
        ftp.OnStatus = [this](TIdStatus code, const std::string& text) {
            events.push_back("status " + std::to_string(code) + " " + text);
        };
        ftp.OnAfterClientLogin = [this] { events.push_back("login"); };
        ftp.OnDisconnected = [this] {
            ++disconnects;
            events.push_back("disconnected");
        };
        ftp.OnWorkBegin = [this](TWorkMode mode, std::int64_t size) {
            workBegin = size;
            events.push_back("begin " + std::to_string(int(mode)) + " " + std::to_string(size));
        };
        ftp.OnWork = [this](TWorkMode, std::int64_t count) {
            work.push_back(count);
            events.push_back("work " + std::to_string(count));
            if (onWork)
                onWork(count);
        };
        ftp.OnWorkEnd = [this](TWorkMode) {
            ++workEnds;
            events.push_back("end");
        };
    }

    // The status texts in order.
    std::vector<std::string> statuses() const
    {
        std::vector<std::string> out;
        for (const std::string& e : events)
            if (e.rfind("status ", 0) == 0)
                out.push_back(e.substr(7));
        return out;
    }
    bool hasStatus(const std::string& codeAndText) const
    {
        for (const std::string& s : statuses())
            if (s == codeAndText)
                return true;
        return false;
    }
    // Sent commands without their CR LF.
    std::vector<std::string> commands() const
    {
        std::vector<std::string> out;
        for (std::string line : sent) {
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
                line.resize(line.size() - 2);
            out.push_back(line);
        }
        return out;
    }
};

// A pyftpdlib server on 127.0.0.1 (or ::1) serving root, for the life of the object.
class PyFtpd
{
public:
    bool start(const QString& root, const QString& host = "127.0.0.1")
    {
        m_process.setProgram("/usr/bin/python3");
        m_process.setArguments({LODRIN_TEST_SUPPORT_DIR "/ftp/pyftpd.py", "--root", root, "--host",
                                host, "--user", "user", "--password", "secret", "--stdin-watch"});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return false;
        }
        m_port = m_process.readLine().trimmed().toInt();
        return m_port > 0;
    }
    int port() const { return m_port; }
    // Ends the server at once; its sockets close with it.
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    ~PyFtpd() { kill(); }

private:
    QProcess m_process;
    int m_port = 0;
};

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Bytes that show any reordering or loss: a counter pattern, not a repeated block.
inline QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x & 0xff);
    }
    return bytes;
}
