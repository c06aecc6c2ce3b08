#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// An FTP server that plays a fixed script on its own thread: the exact dialogues, odd replies
// and dropped connections a real server will not produce. Build the script, start(), let the
// client talk to port(), then finish() and look at errors(), lines() and data().
class ScriptedFtpServer
{
public:
    // host is the address to listen on: "127.0.0.1" or "::1".
    explicit ScriptedFtpServer(std::string host = "127.0.0.1");
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    // Sends bytes as they are.
    ScriptedFtpServer& send(const std::string& bytes);
    // Sends one reply line, CR LF added.
    ScriptedFtpServer& reply(const std::string& line);
    // The next line the client sends must be line followed by CR LF.
    ScriptedFtpServer& expect(const std::string& line);
    // expect(command), then reply(answer).
    ScriptedFtpServer& on(const std::string& command, const std::string& answer);
    // Expects PASV, opens a data listener and answers 227 naming advertised (the listener's own
    // address when empty) with the listener's port.
    ScriptedFtpServer& pasv(const std::string& advertised = "");
    // Expects EPSV, opens a data listener and answers 229.
    ScriptedFtpServer& epsv();
    // Expects PORT or EPRT, notes the address and answers 200.
    ScriptedFtpServer& expectPort();
    // Accepts the client's data connection (passive) or connects to it (active).
    ScriptedFtpServer& openData();
    // Reads exactly count bytes of data.
    ScriptedFtpServer& readData(std::size_t count);
    // Reads data until the client closes or resets the data connection; with keep false the
    // bytes are only counted.
    ScriptedFtpServer& readDataToEnd(bool keep = true);
    // Active mode: connects to the client's data port from source (another local address) and
    // expects the client to close that connection unused.
    ScriptedFtpServer& strangerConnects(const std::string& source);
    // Closes the data connection.
    ScriptedFtpServer& closeData();
    // Drops the control connection (and the data connection).
    ScriptedFtpServer& drop();
    // Sends nothing more and waits until the client closes the control connection; lines that
    // still come are recorded.
    ScriptedFtpServer& holdUntilClosed();
    // Accepts the next control connection (for a reconnect).
    ScriptedFtpServer& acceptNext();

    void start();
    std::uint16_t port() const { return m_port; }
    // Waits for the script to end; true when it ran without a mismatch.
    bool finish();

    const std::vector<std::string>& errors() const { return m_errors; }
    // Every line received on the control connection, line ends included.
    const std::vector<std::string>& lines() const { return m_lines; }
    // Every byte received on data connections (unless readDataToEnd(false)).
    const std::string& data() const { return m_data; }
    // How many bytes came over data connections.
    std::uint64_t dataCount() const { return m_dataCount; }
    // Whether the client closed the data connection with a reset rather than an orderly end.
    bool dataWasReset() const { return m_dataReset; }

private:
    enum class Kind
    {
        Send,
        Expect,
        Pasv,
        Epsv,
        Port,
        OpenData,
        Stranger,
        ReadData,
        ReadToEnd,
        CloseData,
        Drop,
        Hold,
        AcceptNext
    };
    struct Step
    {
        Kind kind;
        std::string text;
        std::size_t count = 0;
    };

    void run();
    bool readLine(std::string& line);
    void closeFd(int& fd);

    std::string m_host;
    std::vector<Step> m_steps;
    int m_listener = -1, m_control = -1, m_dataListener = -1, m_dataFd = -1;
    std::string m_activeHost;
    std::uint16_t m_activePort = 0;
    std::uint16_t m_port = 0;
    std::string m_pending;
    std::thread m_thread;
    std::vector<std::string> m_errors, m_lines;
    std::string m_data;
    std::uint64_t m_dataCount = 0;
    bool m_dataReset = false;
};
