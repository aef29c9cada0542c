// Test peers on 127.0.0.1 for network tests (library fetchlet_testsupport_servers).
//
// TempDir      a fresh folder under $TMPDIR (or /tmp), removed with its
//              content when the object goes away (also folders a test made
//              unreadable).
// NginxServer  a real nginx started on 127.0.0.1 with a free port and a
//              temporary configuration; files put into root() are served.
//              `extra` is inserted into the server block (for instance
//              "limit_rate 2m;" or "location /old { return 302 /new; }").
//              ok() tells whether it came up; log() gives its error log.
// ApacheServer, LighttpdServer  the same with apache2 and lighttpd.
// TinyProxy    Debian's tinyproxy in the foreground on 127.0.0.1 (and on
//              [::1] too when the machine has it: ipv6()) with a free port
//              and a temporary configuration. It forwards plain requests
//              ("GET http://... HTTP/1.0") and opens CONNECT tunnels to any
//              port; it listens on loopback only. Given a user, it
//              answers 407 to every request without
//              "Proxy-Authorization: Basic" for that user and password.
//              ok(), port(), url() ("http://127.0.0.1:PORT"), log() (its
//              log file: each request line, each upstream connection).
// SquidProxy   squid as a forwarding proxy, url() and log() as above.
// Each of them is stopped and reaped by its destructor and killed with
// the test process should that die first.
// ScriptedServer  a TCP server on 127.0.0.1 with a free port that runs a
//              handler on its own thread for each connection, one after the
//              other, for byte-exact or misbehaving replies:
//                  ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\nbody"));
//                  ScriptedServer server([](ScriptedConnection& c) {
//                      c.ReadRequest(); c.Send("HTTP/1.0 200 OK\r\n"); c.WaitForPeerClose(); });
//              Requests() returns what each connection's ReadRequest read.
//              The handler must return when the server stops: the waiting
//              calls of ScriptedConnection return early then.
//
// Nothing here touches Qt or the program: the servers run on their own
// threads or processes with blocking sockets, so a test's event loop on the
// main thread is free to drive the code under test.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Without a trailing "/".
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view content);
bool Exists(const std::string& path);
// A file of `size` bytes of a repeating, position-dependent pattern.
void WritePatternFile(const std::string& path, std::int64_t size);
// The same bytes in memory.
std::string PatternBytes(std::int64_t size);
// n bytes that do not repeat, the same for the same seed.
std::string RandomBytes(std::size_t n, unsigned seed);

// A program started on 127.0.0.1 with a free port and a configuration of
// its own in a temporary folder; stopped (its signal, then SIGKILL) and
// reaped with the object, killed with the test process should that die
// first.
class LoopbackDaemon {
public:
    LoopbackDaemon(const LoopbackDaemon&) = delete;
    LoopbackDaemon& operator=(const LoopbackDaemon&) = delete;

    bool ok() const { return pid_ > 0 && port_ > 0; }
    int port() const { return port_; }
    std::string log() const;

protected:
    // stopSignal: what makes it end; logName: its log file in the folder.
    LoopbackDaemon(int stopSignal, std::string logName);
    ~LoopbackDaemon();
    // Tries up to five free ports: commandFor(port) writes the
    // configuration and gives the command line (program first).
    void Start(const std::function<std::vector<std::string>(int port)>& commandFor);
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;

private:
    int stopSignal_;
    std::string logName_;
};

// A web server whose folder root() is served as "/".
class ServedFolder : public LoopbackDaemon {
public:
    // Without a trailing "/".
    const std::string& root() const { return root_; }
    std::string url(const std::string& path) const;

protected:
    ServedFolder(int stopSignal, std::string logName);
    std::string root_;
};

class NginxServer : public ServedFolder {
public:
    explicit NginxServer(const std::string& extra = {});
    // listenOptions follow the port on the listen line (" ssl"); servers
    // are more server blocks, "@PORT@" and "@ROOT@" in them standing for
    // the port and root().
    NginxServer(const std::string& extra, const std::string& listenOptions, const std::string& servers);
};

// Debian's apache2 in the foreground (event MPM, mod_dir, mod_mime, the
// Debian user www-data when started as root): the files of root(),
// "index.html" for a folder, and a stock Apache's redirect of a folder
// asked for without its "/" (301 to an absolute address built from the
// request's Host line). `extra` goes into the configuration.
class ApacheServer : public ServedFolder {
public:
    explicit ApacheServer(const std::string& extra = {});
};

// lighttpd in the foreground: the files of root(), "index.html" for a
// folder, whose redirect without its "/" is relative ("/folder/").
class LighttpdServer : public ServedFolder {
public:
    explicit LighttpdServer(const std::string& extra = {});
};

class TinyProxy : public LoopbackDaemon {
public:
    // Without a user, no authentication.
    explicit TinyProxy(const std::string& user = {}, const std::string& password = {});
    bool ipv6() const { return ipv6_; }
    std::string url() const;

private:
    bool ipv6_ = false;
};

// Debian's squid in the foreground (-N) as a forwarding proxy on
// 127.0.0.1 that keeps nothing in a cache and forwards to any host and
// port. It speaks HTTP/1.1 to servers and takes their chunked replies off
// for a client that asked with HTTP/1.0; a client that asks with HTTP/1.1
// gets a reply of unknown length in chunks. Started as root it runs as
// Debian's user "proxy", so its folder is open to everyone. log() is its
// cache log.
class SquidProxy : public LoopbackDaemon {
public:
    SquidProxy();
    std::string url() const;
};

// A listening TCP socket on 127.0.0.1 with a free port (port gets it).
int ListenOnLoopback(int& port);

class ScriptedConnection {
public:
    ScriptedConnection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
    int fd() const { return fd_; }
    // Reads up to and including the blank line that ends a request header
    // (or until the peer closes); also records it for Requests().
    std::string ReadRequest();
    // Reads `count` more bytes (a request body), or fewer if the peer closes.
    std::string ReadBytes(std::size_t count);
    // Sends all bytes; false when the peer has gone or the server stops first.
    bool Send(std::string_view bytes);
    // Blocks until the peer closes (true) or the server stops (false).
    bool WaitForPeerClose();
    // Sends a reset instead of an orderly close when the handler returns.
    void ResetOnClose();
    std::string request;

private:
    bool WaitReadable();
    int fd_;
    const std::atomic<bool>& stopping_;
};

class ScriptedServer {
public:
    using Handler = std::function<void(ScriptedConnection&)>;
    explicit ScriptedServer(Handler handler);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<std::string> Requests() const;
    int Connections() const { return connections_.load(); }
    // Waits (bounded) until `count` connections have been handled completely.
    bool WaitForConnections(int count, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

    // Reads the request, sends `reply`, closes.
    static Handler Reply(std::string reply);
    // Reads the request, then sends nothing until the peer closes.
    static Handler Stall(std::string partialReply = {});

private:
    void Run();
    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace testsupport
