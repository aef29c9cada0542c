// A file served by a ScriptedServer the way a resuming client needs it
// (header-only, for tests and benchmarks).
#pragma once
#include "Servers.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A file served with an entity tag; GET honours "Range: bytes=N-" unless
// an If-Range names another tag. The next GET's body may be cut after a
// number of bytes (closed, or reset), or held after some bytes until the
// test releases it.
struct RangeFile {
    std::mutex lock;
    std::string content;
    std::string etag = "\"v1\"";
    std::int64_t cutAt = -1; // of the next GET's body
    bool reset = false;
    std::int64_t holdAt = -1;
    std::atomic<bool> released{false};
    std::vector<std::string> gets;
    std::vector<std::int64_t> sent; // body bytes of each GET

    static std::string field(const std::string& request, const std::string& name)
    {
        const std::size_t at = request.find("\r\n" + name + ": ");
        if (at == std::string::npos)
            return {};
        const std::size_t start = at + name.size() + 4;
        return request.substr(start, request.find("\r\n", start) - start);
    }

    ScriptedServer::Handler handler()
    {
        return [this](ScriptedConnection& c) {
            const std::string request = c.ReadRequest();
            std::unique_lock<std::mutex> guard(lock);
            const std::string size = std::to_string(content.size());
            if (request.rfind("HEAD ", 0) == 0) {
                c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + size + "\r\nETag: " + etag + "\r\n\r\n");
                return;
            }
            gets.push_back(request);
            const std::string range = field(request, "Range");
            std::size_t from = 0;
            std::string head;
            const std::string ifRange = field(request, "If-Range");
            if (range.rfind("bytes=", 0) == 0 && (ifRange.empty() || ifRange == etag)) {
                from = std::stoul(range.substr(6));
                head = "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                       std::to_string(content.size() - 1) + "/" + size + "\r\nContent-Length: " +
                       std::to_string(content.size() - from) + "\r\n";
            } else {
                head = "HTTP/1.0 200 OK\r\nContent-Length: " + size + "\r\n";
            }
            std::string body = content.substr(from);
            if (cutAt >= 0 && static_cast<std::size_t>(cutAt) < body.size())
                body.resize(static_cast<std::size_t>(cutAt));
            const bool resetHere = reset && cutAt >= 0;
            cutAt = -1;
            reset = false;
            const std::int64_t hold = holdAt;
            holdAt = -1;
            sent.push_back(static_cast<std::int64_t>(body.size()));
            guard.unlock();
            c.Send(head + "ETag: " + etag + "\r\n\r\n");
            std::size_t done = 0;
            if (hold >= 0) {
                c.Send(body.substr(0, static_cast<std::size_t>(hold)));
                done = static_cast<std::size_t>(hold);
                for (int i = 0; i < 20000 && !released.load(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            c.Send(body.substr(done));
            if (resetHere)
                c.ResetOnClose();
        };
    }
};


} // namespace testsupport
