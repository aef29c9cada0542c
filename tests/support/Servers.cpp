#include "Servers.h"

#include "Commands.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/prctl.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

bool canConnect(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Starts the program (found on the PATH), killed with the test process, and
// waits (bounded) until it accepts connections on port of 127.0.0.1. -1 when
// it exits first (port taken?) or does not come up.
pid_t startListening(const char* program, const std::vector<std::string>& args, int port)
{
    std::vector<const char*> argv{program};
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        // The server goes with the test process, even when that one crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::execvp(program, const_cast<char**>(argv.data()));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return -1;
        if (canConnect(port))
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

// Whether this machine can listen on [::1].
bool haveIPv6Loopback()
{
    const int s = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

} // namespace

// --------------------------------------------------------------------- TempDir

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/fetchlet-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
    ::chmod(path_.c_str(), 0755); // readable by nginx's worker
}

namespace {

// Gives back what a test took away from folders, so they can be removed.
void makeRemovable(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code ignored;
    if (fs::is_symlink(path, ignored) || !fs::is_directory(path, ignored))
        return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& entry : fs::directory_iterator(path, ignored))
        makeRemovable(entry.path());
}

} // namespace

TempDir::~TempDir()
{
    std::error_code ignored;
    makeRemovable(path_);
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, std::string_view content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(gen() & 0xFF);
    return bytes;
}

namespace {

char patternByte(std::uint64_t p) { return static_cast<char>((p * 131 + (p >> 12)) & 0xFF); }

} // namespace

std::string PatternBytes(std::int64_t size)
{
    std::string bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = patternByte(i);
    return bytes;
}

void WritePatternFile(const std::string& path, std::int64_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    for (std::int64_t done = 0; done < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(size - done, static_cast<std::int64_t>(block.size())));
        for (std::size_t i = 0; i < n; ++i)
            block[i] = patternByte(static_cast<std::uint64_t>(done) + i);
        out.write(block.data(), static_cast<std::streamsize>(n));
        done += static_cast<std::int64_t>(n);
    }
}

// -------------------------------------------------------------- LoopbackDaemon

LoopbackDaemon::LoopbackDaemon(int stopSignal, std::string logName)
    : stopSignal_(stopSignal), logName_(std::move(logName))
{
}

LoopbackDaemon::~LoopbackDaemon()
{
    if (pid_ > 0)
        StopChild(pid_, stopSignal_);
}

void LoopbackDaemon::Start(const std::function<std::vector<std::string>(int port)>& commandFor)
{
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
        const int port = freePort();
        std::vector<std::string> command = commandFor(port);
        const std::string program = command.front();
        command.erase(command.begin());
        if ((pid_ = startListening(program.c_str(), command, port)) > 0)
            port_ = port;
    }
}

std::string LoopbackDaemon::log() const { return ReadFile(dir_.path() + "/" + logName_); }

ServedFolder::ServedFolder(int stopSignal, std::string logName)
    : LoopbackDaemon(stopSignal, std::move(logName)), root_(dir_.path() + "/root")
{
    std::filesystem::create_directory(root_);
    ::chmod(root_.c_str(), 0755);
}

std::string ServedFolder::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

namespace {

// The program at path when it is there (sbin is not on every PATH), else
// by its name.
std::string sbin(const std::string& name)
{
    const std::string path = "/usr/sbin/" + name;
    return ::access(path.c_str(), X_OK) == 0 ? path : name;
}

} // namespace

// ----------------------------------------------------------------- NginxServer

NginxServer::NginxServer(const std::string& extra) : NginxServer(extra, {}, {}) {}

NginxServer::NginxServer(const std::string& extra, const std::string& listenOptions, const std::string& servers)
    : ServedFolder(SIGQUIT, "error.log")
{
    Start([&](int port) -> std::vector<std::string> {
        const std::string d = dir_.path();
        std::ostringstream conf;
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "error_log " << d << "/error.log info;\npid " << d << "/nginx.pid;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n  access_log " << d << "/access.log;\n"
             << "  client_body_temp_path " << d << "/body;\n  proxy_temp_path " << d << "/proxy;\n"
             << "  fastcgi_temp_path " << d << "/fastcgi;\n  uwsgi_temp_path " << d << "/uwsgi;\n"
             << "  scgi_temp_path " << d << "/scgi;\n  default_type application/octet-stream;\n"
             << "  sendfile on;\n  keepalive_timeout 0;\n"
             << "  server {\n    listen 127.0.0.1:" << port << listenOptions << ";\n    root " << root_ << ";\n    "
             << extra << "\n  }\n";
        std::string more = servers;
        for (std::size_t at; (at = more.find("@PORT@")) != std::string::npos;)
            more.replace(at, 6, std::to_string(port));
        for (std::size_t at; (at = more.find("@ROOT@")) != std::string::npos;)
            more.replace(at, 6, root_);
        conf << more << "}\n";
        WriteFile(d + "/nginx.conf", conf.str());
        return {sbin("nginx"), "-p", d, "-c", d + "/nginx.conf"};
    });
}

// ---------------------------------------------------------------- ApacheServer

ApacheServer::ApacheServer(const std::string& extra) : ServedFolder(SIGTERM, "error.log")
{
    Start([&](int port) -> std::vector<std::string> {
        const std::string d = dir_.path();
        const std::string modules = "/usr/lib/apache2/modules/";
        std::ostringstream conf;
        conf << "ServerRoot " << d << "\nServerName 127.0.0.1\nListen 127.0.0.1:" << port << "\n"
             << "PidFile " << d << "/httpd.pid\nErrorLog " << d << "/error.log\nLogLevel warn\n"
             << "LoadModule mpm_event_module " << modules << "mod_mpm_event.so\n"
             << "LoadModule authz_core_module " << modules << "mod_authz_core.so\n"
             << "LoadModule dir_module " << modules << "mod_dir.so\n"
             << "LoadModule mime_module " << modules << "mod_mime.so\n"
             << (::geteuid() == 0 ? "User www-data\nGroup www-data\n" : "") << "DocumentRoot " << root_ << "\n"
             << "<Directory " << root_ << ">\n  Require all granted\n</Directory>\n"
             << "DirectoryIndex index.html\nTypesConfig /etc/mime.types\n"
             << extra << "\n";
        WriteFile(d + "/httpd.conf", conf.str());
        return {sbin("apache2"), "-f", d + "/httpd.conf", "-DFOREGROUND"};
    });
}

// -------------------------------------------------------------- LighttpdServer

LighttpdServer::LighttpdServer(const std::string& extra) : ServedFolder(SIGTERM, "error.log")
{
    Start([&](int port) -> std::vector<std::string> {
        const std::string d = dir_.path();
        std::ostringstream conf;
        conf << "server.document-root = \"" << root_ << "\"\nserver.bind = \"127.0.0.1\"\n"
             << "server.port = " << port << "\nserver.errorlog = \"" << d << "/error.log\"\n"
             << "index-file.names = ( \"index.html\" )\n"
             << "mimetype.assign = ( \"\" => \"application/octet-stream\" )\n"
             << extra << "\n";
        WriteFile(d + "/lighttpd.conf", conf.str());
        return {sbin("lighttpd"), "-D", "-f", d + "/lighttpd.conf"};
    });
}

// ------------------------------------------------------------------- TinyProxy

TinyProxy::TinyProxy(const std::string& user, const std::string& password) : LoopbackDaemon(SIGTERM, "tinyproxy.log")
{
    const bool v6 = haveIPv6Loopback();
    Start([&](int port) -> std::vector<std::string> {
        const std::string d = dir_.path();
        std::ostringstream conf;
        // No ConnectPort line: CONNECT goes to any port. No User line: it
        // runs as whoever runs the test (and says so in its log). No Allow
        // lines: it listens on loopback only, which lets in exactly the
        // loopback clients, whereas tinyproxy 1.11 checks its Allow list
        // against a wrong address for the first IPv6 client after IPv4 ones
        // (and would refuse [::1] with 403).
        conf << "Port " << port << "\nListen 127.0.0.1\n" << (v6 ? "Listen ::1\n" : "")
             << "Timeout 60\nMaxClients 64\n"
             << "LogFile \"" << d << "/tinyproxy.log\"\nLogLevel Info\nPidFile \"" << d << "/tinyproxy.pid\"\n";
        if (!user.empty())
            conf << "BasicAuth " << user << " " << password << "\n";
        WriteFile(d + "/tinyproxy.conf", conf.str());
        return {"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"};
    });
    ipv6_ = ok() && v6;
}

std::string TinyProxy::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

// ------------------------------------------------------------------ SquidProxy

SquidProxy::SquidProxy() : LoopbackDaemon(SIGTERM, "cache.log")
{
    ::chmod(dir_.path().c_str(), 0777); // for its user, when it changes to one
    Start([&](int port) -> std::vector<std::string> {
        const std::string d = dir_.path();
        std::ostringstream conf;
        conf << "http_port 127.0.0.1:" << port << "\npid_filename " << d << "/squid.pid\n"
             << "cache_log " << d << "/cache.log\naccess_log " << d << "/access.log\n"
             << "coredump_dir " << d << "\ncache deny all\ncache_mem 8 MB\n"
             << "http_access allow all\nshutdown_lifetime 0 seconds\n"
             << "visible_hostname fetchlet-test\npinger_enable off\n";
        WriteFile(d + "/squid.conf", conf.str());
        return {sbin("squid"), "-N", "-f", d + "/squid.conf"};
    });
}

std::string SquidProxy::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

// ---------------------------------------------------------- ScriptedConnection

bool ScriptedConnection::WaitReadable()
{
    while (!stopping_.load()) {
        pollfd p{fd_, POLLIN, 0};
        const int rc = ::poll(&p, 1, 50);
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
    }
    return false;
}

std::string ScriptedConnection::ReadRequest()
{
    std::string data;
    char c;
    while (data.find("\r\n\r\n") == std::string::npos && WaitReadable()) {
        if (::recv(fd_, &c, 1, 0) != 1)
            break;
        data += c;
    }
    request += data;
    return data;
}

std::string ScriptedConnection::ReadBytes(std::size_t count)
{
    std::string data;
    char buffer[4096];
    while (data.size() < count && WaitReadable()) {
        const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - data.size()), 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    request += data;
    return data;
}

bool ScriptedConnection::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        // A peer that stops reading must not hold the server up.
        pollfd p{fd_, POLLOUT, 0};
        const int rc = ::poll(&p, 1, 50);
        if (stopping_.load())
            return false;
        if (rc < 0 && errno != EINTR)
            return false;
        if (rc <= 0)
            continue;
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ScriptedConnection::WaitForPeerClose()
{
    char buffer[4096];
    while (WaitReadable())
        if (::recv(fd_, buffer, sizeof buffer, 0) <= 0)
            return true;
    return false;
}

void ScriptedConnection::ResetOnClose()
{
    ::linger option{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

// -------------------------------------------------------------- ScriptedServer

int ListenOnLoopback(int& port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        ::close(listener);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    port = ntohs(a.sin_port);
    return listener;
}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler))
{
    listener_ = ListenOnLoopback(port_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void ScriptedServer::Run()
{
    while (!stopping_.load()) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ScriptedConnection connection(fd, stopping_);
        try {
            handler_(connection);
        } catch (...) {
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(connection.request);
        }
        ::close(fd);
        ++connections_;
    }
}

std::string ScriptedServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedServer::Requests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool ScriptedServer::WaitForConnections(int count, std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (connections_.load() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

ScriptedServer::Handler ScriptedServer::Reply(std::string reply)
{
    return [reply = std::move(reply)](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send(reply);
    };
}

ScriptedServer::Handler ScriptedServer::Stall(std::string partialReply)
{
    return [partialReply = std::move(partialReply)](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send(partialReply);
        c.WaitForPeerClose();
    };
}

} // namespace testsupport
