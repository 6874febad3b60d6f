#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_certificates.h"

struct ssl_st;

// A scripted server for protocol tests: a real TCP listener on 127.0.0.1 that plays a list of
// steps ("send these bytes", "the client must send exactly these bytes", "wait", "close") and
// records everything its clients send. It understands nothing of POP3 or SMTP; it only plays
// its script. Every read has a time limit, so a broken client fails a test instead of hanging.
namespace zelm::test {

/// One step of a fake server's script; build steps with the functions in namespace script.
struct ScriptStep {
    enum class Kind {
        Send,
        SendSegments,
        Expect,
        ReadUntil,
        Wait,
        Silent,
        Close,
        Reset,
        ExpectClose,
        Accept,
        StartTls
    };
    Kind kind = Kind::Send;
    /// The bytes to send or expect, or the pattern ReadUntil waits for.
    std::string bytes;
    /// The pieces of a SendSegments step, each sent on its own.
    std::vector<std::string> segments;
    /// Milliseconds of a Wait, Silent or the gap between segments.
    int ms = 0;
    /// The certificate and key a StartTls step presents.
    TlsIdentity identity = {};
};

namespace script {
/// Sends bytes as they are.
ScriptStep Send(std::string bytes);
/// Sends each segment on its own with gapMs between them, so they arrive as separate reads.
ScriptStep SendSegments(std::vector<std::string> segments, int gapMs = 60);
/// The client must send exactly these bytes next (within the read limit).
ScriptStep Expect(std::string bytes);
/// Records what the client sends up to and including the first occurrence of pattern.
ScriptStep ReadUntil(std::string pattern);
/// Does nothing for ms milliseconds.
ScriptStep Wait(int ms);
/// Sends nothing for ms milliseconds, recording what the client sends meanwhile; ends early
/// when the client closes.
ScriptStep Silent(int ms);
/// Closes the connection in the orderly way.
ScriptStep Close();
/// Aborts the connection (the client sees a reset).
ScriptStep Reset();
/// The client must close the connection (within the read limit), having sent nothing more.
ScriptStep ExpectClose();
/// Closes any open connection and accepts the next one.
ScriptStep Accept();
/// The steps of first followed by those of rest.
std::vector<ScriptStep> Then(std::vector<ScriptStep> first, const std::vector<ScriptStep>& rest);
/// The server's side of a TLS handshake, presenting identity; every later step of the
/// connection is encrypted. The step fails when the handshake does.
ScriptStep StartTls(const TlsIdentity& identity);
} // namespace script

/// Plays a script to the clients that connect to it, in a thread of its own.
class FakeServer {
public:
    /// Starts listening at once; the first step runs after the first client connects.
    /// readLimitMs bounds every read and the wait for each connection.
    explicit FakeServer(std::vector<ScriptStep> script, int readLimitMs = 5000);
    /// Stops the script (the connection is closed) and joins the thread.
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    /// The port the server listens on (127.0.0.1).
    int Port() const { return m_port; }

    /// Waits up to limitMs for the script to end, then stops the server; true when every step
    /// ran as scripted.
    bool Finish(int limitMs = 10000);
    /// Every step ran and every expectation held.
    bool ScriptCompleted() const;
    /// Why the script stopped early ("" when it did not).
    std::string Failure() const;
    /// Everything the clients sent, all connections in order.
    std::string Received() const;
    /// What the clients sent, one entry per accepted connection.
    std::vector<std::string> ReceivedPerConnection() const;
    /// Number of connections accepted.
    int Connections() const;

private:
    void Run();
    bool AcceptConnection();
    bool RunStep(const ScriptStep& step);
    bool FillUntil(std::size_t minimum, const std::string& pattern, int limitMs, bool stopOnClose);
    bool ReadSome(int waitMs, bool& closed);
    bool SendAll(const std::string& bytes);
    bool BeginTls(const TlsIdentity& identity);
    // One read of the connection, through TLS once it is started: the byte count, 0 when the
    // client closed, -1 on an error.
    long RecvSome(char* buffer, std::size_t size, bool wait);
    // Whether bytes can be read now, or within waitMs.
    bool Readable(int waitMs);
    void CloseConnection(bool reset);
    void Fail(const std::string& why);
    void Drain();

    std::vector<ScriptStep> m_script;
    int m_readLimitMs;
    int m_listenFd = -1;
    int m_fd = -1;
    ::ssl_st* m_ssl = nullptr;
    int m_port = 0;
    // Bytes received on the current connection and not yet taken by a step.
    std::string m_pending;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    bool m_done = false;
    bool m_completed = false;
    std::string m_failure;
    std::vector<std::string> m_received;
    std::thread m_thread;
};

/// A loopback port that nothing listens on (bound and released), for refused connects.
int ClosedLoopbackPort();

} // namespace zelm::test
