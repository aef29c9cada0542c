// The socket component against scripted peers on 127.0.0.1.
#include "MessageOf.h"
#include "net/NMHttp.h"
#include "net/Psock.h"

#include "Servers.h"

#include <QTimer>

#include <gtest/gtest.h>

#include "platform/MessageWindow.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

namespace {

// A port on which nothing listens.
int closedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

} // namespace

TEST(Psock, ErrorTextsAndStatusFilter)
{
    std::vector<std::string> seen; // outlives the component, which reports "Destroy"
    TPowersock sock;
    EXPECT_EQ(sock.ErrorMessage(10065), "10065:No route to Host");
    EXPECT_EQ(sock.ErrorMessage(10061), "10061:Connection refused");
    EXPECT_EQ(sock.ErrorMessage(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(sock.ErrorMessage(12345), "Unknown Error No. 12345");
    EXPECT_EQ(sock.ErrorMessage(0), "");

    sock.OnStatus = [&](TObject* sender, const std::string& s) {
        EXPECT_EQ(sender, &sock);
        seen.push_back(s);
        throw std::runtime_error("a handler's failure is swallowed");
    };
    sock.ReportLevel = 2;
    EXPECT_EQ(sock.LastErrorNo(), 0); // level 8: filtered out
    sock.Cancel();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sock.Status, "");
    sock.ReportLevel = 8;
    sock.LastErrorNo();
    ASSERT_EQ(seen, std::vector<std::string>{"Getting LastError Number"});
    EXPECT_EQ(sock.Status, "Getting LastError Number");
}

TEST(Psock, DestructionReportsAndAbortsLikeTheMostDerivedClass)
{
    std::vector<std::string> seen;
    auto record = [&](TObject*, const std::string& s) { seen.push_back(s); };
    {
        TPowersock sock;
        sock.ReportLevel = 8;
        sock.OnStatus = record;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Destroy", "Abort", "Canceling", "Canceling"}));
    seen.clear();
    {
        TNMHTTP http; // its Abort reports nothing of its own
        http.ReportLevel = 8;
        http.OnStatus = record;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Destroy", "Canceling", "Canceling"}));
}

TEST(Psock, WriteTransactionReadLnAndReconnect)
{
    ScriptedServer server([](ScriptedConnection& c) {
        if (c.ReadBytes(9) != "ABHELLO\r\n")
            return;
        c.Send("250 OK there\r\nrest without end");
    });
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.port();
    int connects = 0, disconnects = 0, resolved = 0;
    std::vector<std::string> seen;
    sock.OnConnect = [&](TObject*) { ++connects; };
    sock.OnDisconnect = [&](TObject*) { ++disconnects; };
    sock.OnHostResolved = [&](TObject*) { ++resolved; };
    sock.ReportLevel = 1;
    sock.OnStatus = [&](TObject*, const std::string& s) { seen.push_back(s); };

    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(resolved, 0); // a dotted address needs no lookup
    EXPECT_EQ(messageOf<ESockError>([&] { sock.Connect(); }), "Already connected");

    sock.Write(std::string("AB\0CD", 5)); // only the bytes before the NUL
    EXPECT_EQ(sock.Transaction("HELLO"), "250 OK there\r\n");
    EXPECT_EQ(sock.ReplyNumber, 250);
    EXPECT_EQ(seen, std::vector<std::string>{"250 OK there\r\n"});
    EXPECT_EQ(sock.ReadLn(), ""); // closed in mid-line
    sock.Disconnect();
    EXPECT_FALSE(sock.Connected);
    EXPECT_GE(disconnects, 1);
    ASSERT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(server.Requests()[0], "ABHELLO\r\n");

    // A fresh socket is ready for the next connection.
    sock.Connect();
    EXPECT_EQ(connects, 2);
    sock.Disconnect();
}

TEST(Psock, CapturesCountEveryByte)
{
    ScriptedServer one([](ScriptedConnection& c) { c.Send("x"); });
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = one.port();
    int packets = 0;
    sock.OnPacketRecvd = [&](TObject*) { ++packets; };
    sock.Connect();
    std::string text = "old";
    sock.CaptureString(text, -1);
    EXPECT_EQ(text, "x");
    EXPECT_EQ(sock.BytesRecvd, 1);
    EXPECT_EQ(packets, 1);
    sock.Disconnect();

    // More than 2 GiB: the counter is 64-bit.
    const std::int64_t total = (std::int64_t(1) << 31) + 3;
    ScriptedServer big([total](ScriptedConnection& c) {
        std::string block(1 << 20, 'z');
        std::int64_t left = total;
        while (left > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
            c.Send(std::string_view(block.data(), n));
            left -= static_cast<std::int64_t>(n);
        }
    });
    sock.Port = big.port();
    sock.Connect();
    sock.CaptureFile("/dev/null");
    EXPECT_EQ(sock.BytesRecvd, total);
    sock.Disconnect();
}

TEST(Psock, ConnectFailures)
{
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = closedPort();
    int failed = 0;
    sock.OnConnectionFailed = [&](TObject*) { ++failed; };
    EXPECT_EQ(messageOf<ESockError>([&] { sock.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(sock.LastErrorNo(), 10035);
    sock.Disconnect();

    // A name that cannot be found, with and without a second chance. The
    // name is malformed, so the lookup fails without asking any server.
    sock.Host = "no..such..host";
    EXPECT_EQ(messageOf<ESockError>([&] { sock.Connect(); }), "Null Remote Address");
    int asked = 0;
    sock.OnInvalidHost = [&](TObject*, bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(messageOf<ESockError>([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);

    // A listener whose queue is full drops the handshake: only the time-out
    // or a cancel ends the wait.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    {
        TPowersock full;
        full.Host = "127.0.0.1";
        full.Port = ntohs(a.sin_port);
        full.TimeOut = 300;
        int fails = 0;
        full.OnConnectionFailed = [&](TObject*) { ++fails; };
        EXPECT_EQ(messageOf<ESockError>([&] { full.Connect(); }), "Connection Timed out");
        full.Disconnect();
        full.TimeOut = 0;
        QTimer::singleShot(100, [&] { full.Cancel(); });
        EXPECT_EQ(messageOf<ESockError>([&] { full.Connect(); }), "Connection Canceled");
        EXPECT_EQ(fails, 2);
        full.Disconnect();
    }
    ::close(filler);
    ::close(listener);

    ScriptedServer server([](ScriptedConnection& c) { c.WaitForPeerClose(); });
    sock.Port = server.port();
    sock.OnInvalidHost = [&](TObject*, bool& handled) {
        sock.Host = "localhost"; // resolved through a lookup this time
        handled = true;
    };
    int resolved = 0;
    sock.OnHostResolved = [&](TObject*) { ++resolved; };
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(resolved, 1);
    sock.Disconnect();
}

TEST(Psock, TimeOutAndCancelEndWaitsAndClearTheFlag)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.Send("no line end");
        c.WaitForPeerClose();
    });
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.port();
    sock.TimeOut = 300;
    sock.Connect();
    EXPECT_EQ(messageOf<EAbortError>([&] { sock.ReadLn(); }), "Socket readln aborted");
    // The flag is cleared: a capture runs until its own time-out. The
    // unfinished line was consumed by the read.
    std::string text = "old";
    EXPECT_EQ(messageOf<EAbortError>([&] { sock.CaptureString(text, -1); }), "Socket capture aborted");
    EXPECT_EQ(text, "");
    sock.TimeOut = 0;
    sock.OnPacketRecvd = [&](TObject*) {};
    sock.Cancel();
    EXPECT_EQ(messageOf<EAbortError>([&] { sock.CaptureString(text, -1); }), "Socket capture aborted");
    sock.Disconnect();
}

TEST(Psock, ALateCloseOfOneConnectionNeverReachesTheNext)
{
    ScriptedServer quiet([](ScriptedConnection&) {}); // accepts and closes at once
    ScriptedServer next([](ScriptedConnection& c) { c.WaitForPeerClose(); });
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.TimeOut = 5000;
    int disconnects = 0;
    sock.OnDisconnect = [&](TObject*) { ++disconnects; };
    for (int round = 0; round < 5; ++round) {
        sock.Port = quiet.port();
        sock.Connect();
        ASSERT_TRUE(quiet.WaitForConnections(round + 1));
        ProcessMessages(); // the peer's close is noticed and queued
        sock.Disconnect();
        const int before = disconnects;
        sock.Port = next.port();
        sock.Connect();
        EXPECT_TRUE(sock.Connected);
        EXPECT_EQ(disconnects, before); // nothing closed the new connection
        sock.Disconnect();
    }
}
