// The httpget tool as a user runs it: output lines, files and exit codes.
#include "Commands.h"
#include "Servers.h"
#include "TlsPeers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::NginxServer;
using testsupport::ReadFile;
using testsupport::ScriptedServer;
using testsupport::TempDir;
using testsupport::TinyProxy;

extern char** environ;

namespace {

struct ToolRun {
    int code = -1;
    std::string out;
};

// The test's environment without the proxy variables, plus `extra`
// ("name=value", in place of a variable of that name), so that runs do not
// depend on the caller's proxy.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        bool replaced = false;
        for (const std::string& x : extra)
            replaced = replaced || x.rfind(name + "=", 0) == 0;
        if (!replaced && lower != "http_proxy" && lower != "https_proxy" && lower != "all_proxy" && lower != "no_proxy")
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Runs httpget in dir with the environment variables `env` ("name=value")
// and no others of the proxy; its output goes to a file there.
ToolRun httpget(const TempDir& dir, std::vector<std::string> args, const std::vector<std::string>& env = {})
{
    const std::string outPath = dir.file("stdout");
    std::vector<std::string> all{HTTPGET_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string cwd = dir.path();
    const std::string oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(cwd);
    pid_t pid = -1;
    ToolRun run;
    std::vector<std::string> environment = environmentWith(env);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid, HTTPGET_PATH, &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::filesystem::current_path(oldCwd);
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadFile(outPath);
    return run;
}

} // namespace

TEST(Httpget, PrintsEventsWritesFilesAndExits)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WriteFile(nginx.root() + "/f.txt", "hello nginx\n");
    TempDir dir;

    ToolRun ok = httpget(dir, {"--report-level", "2", nginx.url("/f.txt")});
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(ok.out, "success: 0\nstatus: Transaction Completed\nReplyNumber=200\nBytesRecvd=12\nBytesTotal=12\n");
    EXPECT_EQ(ReadFile(dir.file("body.out")), "hello nginx\n");
    EXPECT_EQ(ReadFile(dir.file("header.out")).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

    ToolRun head = httpget(dir, {"--head", "--body", "b", "--header", "h", nginx.url("/f.txt")});
    EXPECT_EQ(head.code, 0);
    EXPECT_EQ(head.out, "success: 2\nReplyNumber=200\nBytesRecvd=0\nBytesTotal=12\n");
    EXPECT_NE(ReadFile(dir.file("h")).find("Content-Length: 12"), std::string::npos);

    ToolRun missing = httpget(dir, {nginx.url("/none")});
    EXPECT_EQ(missing.code, 0);
    EXPECT_EQ(missing.out.rfind("failure: 0\nReplyNumber=404\n", 0), 0u) << missing.out;

    int closed;
    {
        ScriptedServer gone(ScriptedServer::Reply(""));
        closed = gone.port();
    }
    ToolRun refused = httpget(dir, {"http://127.0.0.1:" + std::to_string(closed) + "/"});
    EXPECT_EQ(refused.code, 3);
    EXPECT_EQ(refused.out, "ESockError: Connection Failed\nLastErrorNo=10035\n");

    // A body cut short is a socket error, not a success.
    ScriptedServer cut(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(500000, 'x')));
    ToolRun shortBody = httpget(dir, {cut.url("/f")});
    EXPECT_EQ(shortBody.code, 3);
    EXPECT_NE(shortBody.out.find("ESockError: Transfer closed with outstanding read data remaining (500000 of 1000000 "
                                 "bytes received)\nLastErrorNo=0\n"),
              std::string::npos)
        << shortBody.out;
    EXPECT_EQ(shortBody.out.find("success: "), std::string::npos) << shortBody.out;

    // A server that closes without replying: a failure, as curl's 52.
    ScriptedServer empty(ScriptedServer::Reply(""));
    ToolRun nothing = httpget(dir, {empty.url("/f")});
    EXPECT_EQ(nothing.code, 3);
    EXPECT_NE(nothing.out.find("Empty reply from server\n"), std::string::npos) << nothing.out;
    EXPECT_EQ(nothing.out.find("ReplyNumber="), std::string::npos) << nothing.out;
    EXPECT_EQ(testsupport::RunShell("curl -0 -s -o /dev/null " + empty.url("/f")).exitCode, 52);

    // A plain server behind an https address: the handshake fails.
    ScriptedServer plain([](testsupport::ScriptedConnection& c) { c.Send("HTTP/1.0 200 OK\r\n\r\nplain"); });
    ToolRun secure = httpget(dir, {"https://127.0.0.1:" + std::to_string(plain.port()) + "/"});
    EXPECT_EQ(secure.code, 3);
    EXPECT_EQ(secure.out.rfind("ESockError: TLS handshake failed: ", 0), 0u) << secure.out;

    EXPECT_EQ(httpget(dir, {}).code, 2);
    EXPECT_EQ(httpget(dir, {"--timeout", "x", "http://h/"}).code, 2);
    EXPECT_EQ(httpget(dir, {"--bogus", "http://h/"}).code, 2);
}

TEST(Httpget, CancelAfterAndRedirects)
{
    ScriptedServer server([](testsupport::ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        if (request.rfind("GET /r ", 0) == 0) {
            c.Send("HTTP/1.0 301 Moved\r\nLocation: /big\r\n\r\n");
            return;
        }
        c.Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(4096, 'b'));
        c.WaitForPeerClose(); // only the client's cancel ends it
    });
    TempDir dir;
    ToolRun run = httpget(dir, {"--cancel-after", "1", server.url("/r")});
    EXPECT_EQ(run.code, 3);
    EXPECT_EQ(run.out, "redirect\nEAbortError: Socket capture aborted\nLastErrorNo=10035\n");
    EXPECT_FALSE(ReadFile(dir.file("body.out")).empty());
}

TEST(Httpget, ProxyAndCredentialsReachTheRequest)
{
    ScriptedServer proxy(ScriptedServer::Reply("HTTP/1.0 401 Unauthorized\r\n\r\n"));
    TempDir dir;
    ToolRun run = httpget(dir, {"--proxy", "127.0.0.1", "--proxy-port", std::to_string(proxy.port()), "--user", "u",
                                "--password", "p", "http://far.example/f"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "failure: 0\nReplyNumber=401\nBytesRecvd=0\nBytesTotal=0\n");
    ASSERT_TRUE(proxy.WaitForConnections(1));
    const std::string request = proxy.Requests()[0];
    EXPECT_EQ(request.rfind("GET http://far.example/f HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nHost: far.example\r\n", 0), 0u);
    EXPECT_NE(request.find("\r\nAuthorization: Basic dTpw\r\n"), std::string::npos);
    EXPECT_EQ(httpget(dir, {"--proxy", "127.0.0.1", "http://h/"}).code, 2); // no proxy port
}

TEST(Httpget, ReadsTheProxyEnvironmentUnlessToldAProxy)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WriteFile(nginx.root() + "/f.txt", "via proxy\n");
    TinyProxy proxy;
    ASSERT_TRUE(proxy.ok()) << proxy.log();
    TempDir dir;
    const std::string proxyText = "127.0.0.1:" + std::to_string(proxy.port());

    ToolRun run = httpget(dir, {nginx.url("/f.txt")}, {"http_proxy=http://" + proxyText + "/"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out.rfind("proxy: " + proxyText + " (http_proxy)\nsuccess: 0\n", 0), 0u) << run.out;
    EXPECT_EQ(ReadFile(dir.file("body.out")), "via proxy\n");
    EXPECT_NE(proxy.log().find("GET " + nginx.url("/f.txt")), std::string::npos) << proxy.log();

    // Credentials go with the request, and https goes through a tunnel
    // with the certificate checked.
    TinyProxy guarded("u", "p");
    ASSERT_TRUE(guarded.ok()) << guarded.log();
    const std::string guardedText = "127.0.0.1:" + std::to_string(guarded.port());
    run = httpget(dir, {nginx.url("/f.txt")}, {"all_proxy=http://u:p@" + guardedText});
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("ReplyNumber=200"), std::string::npos) << run.out;
    run = httpget(dir, {nginx.url("/f.txt")}, {"all_proxy=http://" + guardedText});
    EXPECT_NE(run.out.find("ReplyNumber=407"), std::string::npos) << run.out;
    testsupport::TestCA ca;
    ASSERT_TRUE(ca.ok());
    testsupport::TlsNginx secure(ca.Issue("localhost", "DNS:localhost"));
    ASSERT_TRUE(secure.ok()) << secure.log();
    testsupport::WriteFile(secure.root() + "/f.txt", "secure via proxy\n");
    run = httpget(dir, {secure.url("/f.txt", "localhost")},
                  {"https_proxy=http://u:p@" + guardedText, "SSL_CERT_FILE=" + ca.CertFile(), "SSL_CERT_DIR=/nonexistent"});
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_EQ(ReadFile(dir.file("body.out")), "secure via proxy\n");
    EXPECT_NE(guarded.log().find("CONNECT localhost:" + std::to_string(secure.port())), std::string::npos)
        << guarded.log();

    // Excluded by no_proxy, HTTP_PROXY (never read) and --proxy: direct or
    // the proxy given, not the one of the environment.
    int closed;
    {
        ScriptedServer gone(ScriptedServer::Reply(""));
        closed = gone.port();
    }
    const std::string dead = "http_proxy=127.0.0.1:" + std::to_string(closed);
    run = httpget(dir, {nginx.url("/f.txt")}, {dead, "no_proxy=localhost,127.0.0.1"});
    EXPECT_EQ(run.out.rfind("proxy: direct (no_proxy)\nsuccess: 0\n", 0), 0u) << run.out;
    run = httpget(dir, {nginx.url("/f.txt")}, {"HTTP_PROXY=127.0.0.1:" + std::to_string(closed)});
    EXPECT_EQ(run.out.rfind("success: 0\n", 0), 0u) << run.out;
    run = httpget(dir, {"--proxy", "127.0.0.1", "--proxy-port", std::to_string(proxy.port()), nginx.url("/f.txt")},
                  {dead});
    EXPECT_EQ(run.out.rfind("success: 0\n", 0), 0u) << run.out;

    // A variable that does not parse ends the run, naming it.
    run = httpget(dir, {nginx.url("/f.txt")}, {"http_proxy=socks5://127.0.0.1:1080"});
    EXPECT_EQ(run.code, 4);
    EXPECT_EQ(run.out.rfind("Exception: 環境変数 http_proxy: ", 0), 0u) << run.out;
}
