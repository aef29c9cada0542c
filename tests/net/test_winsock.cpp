// The Windows Sockets stand-in: its notification rules, seen from a window.
#include "platform/MessageWindow.h"
#include "platform/WinSock.h"

#include "Servers.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <chrono>

using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

namespace {

constexpr UINT SocketMessage = WM_USER + 101;
constexpr UINT LookupMessage = WM_USER + 102;

struct Recorder {
    Recorder()
        : window([this](UINT msg, WPARAM w, LPARAM l) -> LRESULT {
              events.push_back({msg, w, static_cast<std::uint32_t>(l)});
              return 0;
          })
    {
    }
    struct Event {
        UINT msg;
        WPARAM wParam;
        std::uint32_t lParam;
    };
    int count(long event) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e.msg == SocketMessage && (e.lParam & 0xFFFF) == static_cast<std::uint32_t>(event);
        return n;
    }
    // Lets the queue run until pred holds (bounded).
    template <typename P>
    bool until(P pred)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    // Lets the queue run for a short quiet period, to see that nothing more comes.
    void settle()
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    std::vector<Event> events;
    TMessageWindow window;
};

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

} // namespace

TEST(WinSock, NotificationsFollowWinsockRules)
{
    std::atomic<bool> sendMore{false};
    ScriptedServer server([&](ScriptedConnection& c) {
        c.Send("abc");
        while (!sendMore.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        c.Send("def");
    });
    Recorder r;
    const SOCKET s = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(WSAAsyncSelect(s, r.window.Handle(), SocketMessage, FD_READ | FD_CONNECT | FD_CLOSE), 0);
    const sockaddr_in a = loopback(server.port());
    EXPECT_EQ(winsock::connect(s, &a, sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(r.until([&] { return r.count(FD_READ) == 1; }));
    EXPECT_EQ(r.count(FD_CONNECT), 1);
    EXPECT_EQ(r.events.front().lParam, static_cast<std::uint32_t>(FD_CONNECT)); // no error word
    EXPECT_EQ(r.events.front().wParam, static_cast<WPARAM>(s));
    // No second FD_READ until recv, although the data still waits.
    r.settle();
    EXPECT_EQ(r.count(FD_READ), 1);
    char buffer[16];
    EXPECT_EQ(winsock::recv(s, buffer, 2, MSG_PEEK), 2);
    ASSERT_TRUE(r.until([&] { return r.count(FD_READ) == 2; })); // a peek re-arms it too
    EXPECT_EQ(winsock::recv(s, buffer, sizeof buffer, 0), 3);
    EXPECT_EQ(winsock::recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    sendMore = true;
    ASSERT_TRUE(r.until([&] { return r.count(FD_READ) == 3; }));
    EXPECT_EQ(winsock::recv(s, buffer, sizeof buffer, 0), 3);
    ASSERT_TRUE(r.until([&] { return r.count(FD_CLOSE) == 1; }));
    EXPECT_EQ(winsock::recv(s, buffer, sizeof buffer, 0), 0);
    r.settle();
    EXPECT_EQ(r.count(FD_CLOSE), 1); // once
    // Sending to a closed peer fails with an error, never with SIGPIPE.
    winsock::send(s, "x", 1, 0);
    r.settle();
    EXPECT_EQ(winsock::send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_TRUE(WSAGetLastError() == WSAESHUTDOWN || WSAGetLastError() == WSAECONNRESET) << WSAGetLastError();
    EXPECT_EQ(closesocket(s), 0);
}

TEST(WinSock, RefusedConnectsAndLookups)
{
    Recorder r;
    // A refused connect answers 10035 and reports 10061 with FD_CONNECT.
    int closedPort;
    {
        ScriptedServer gone(ScriptedServer::Reply(""));
        closedPort = gone.port();
    }
    SOCKET s = winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(WSAAsyncSelect(s, r.window.Handle(), SocketMessage, FD_CONNECT | FD_CLOSE), 0);
    sockaddr_in a = loopback(closedPort);
    EXPECT_EQ(winsock::connect(s, &a, sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(r.until([&] { return r.count(FD_CONNECT) == 1; }));
    EXPECT_EQ(r.events.back().lParam >> 16, 10061u);
    closesocket(s);

    // Lookups: an answer for a window that is gone does nothing; one for
    // a live window fills the caller's buffer.
    std::vector<char> entry(1024);
    {
        Recorder gone;
        ASSERT_NE(WSAAsyncGetHostByName(gone.window.Handle(), LookupMessage, "localhost", entry.data(), 1024), 0u);
    }
    const WSATaskHandle task = WSAAsyncGetHostByName(r.window.Handle(), LookupMessage, "localhost", entry.data(), 1024);
    ASSERT_TRUE(r.until([&] { return !r.events.empty() && r.events.back().msg == LookupMessage; }));
    EXPECT_EQ(r.events.back().wParam, task);
    EXPECT_EQ(r.events.back().lParam >> 16, 0u);
    const auto* host = reinterpret_cast<const hostent*>(entry.data());
    in_addr first;
    std::memcpy(&first, host->h_addr_list[0], sizeof first);
    EXPECT_EQ(first.s_addr, inet_addr("127.0.0.1"));
}
