#include "net/NMHttp.h"

#include "net/NMURL.h"
#include "net/NMUUE.h"
#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

#include <cstdint>
#include <cstdio>

namespace {

const char* const requestWords[] = {"GET ",    "OPTIONS ", "HEAD ",  "POST ",   "PUT ",    "PATCH ",
                                    "COPY ",   "MOVE ",    "DELETE ", "LINK ",  "UNLINK ", "TRACE "};

std::string fieldName(const std::string& line)
{
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

// Position of the n-th (1-based) "/" in text, or npos.
std::size_t nthSlash(const std::string& text, int n)
{
    std::size_t pos = std::string::npos;
    for (int i = 0; i < n; ++i) {
        pos = text.find('/', pos == std::string::npos ? 0 : pos + 1);
        if (pos == std::string::npos)
            break;
    }
    return pos;
}

bool hasBody(CmdType c) { return c == cmdPost || c == cmdPut || c == cmdPatch || c == cmdTrace || c == cmdCustom; }

std::string trimmed(const std::string& text)
{
    std::size_t start = 0, end = text.size();
    while (start < end && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' || text[end - 1] == '\n'))
        --end;
    return text.substr(start, end - start);
}

// A decimal number of at most 18 digits, or -1.
std::int64_t decimal(const std::string& text)
{
    if (text.empty() || text.size() > 18)
        return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string withoutTerminator(const std::string& line)
{
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
        --end;
    return line.substr(0, end);
}

} // namespace

// --------------------------------------------------------------- TExStringList

int TExStringList::IndexOfField(const std::string& name) const
{
    // Always a scan, also in a sorted list: the list is sorted by whole
    // lines, not by field names ("a-b: x" sorts before "a: y", but "a"
    // before "a-b"), and lines without a colon sort among the fields, so a
    // bisection by name misses fields. The lists are a few lines long.
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = Strings(i);
        if (line.find(':') != std::string::npos && AnsiCompareText(fieldName(line), name) == 0)
            return i;
    }
    return -1;
}

void TExStringList::SetField(const std::string& name, const std::string& value)
{
    const int index = IndexOfField(name);
    if (value.empty()) {
        if (index >= 0)
            Delete(index);
    } else if (index >= 0) {
        Strings(index) = name + ": " + value;
    } else {
        Add(name + ": " + value);
    }
}

// --------------------------------------------------------------------- TNMHTTP

TNMHTTP::TNMHTTP(TComponent* owner) : TPowersock(owner) {}

TNMHTTP::~TNMHTTP() { BeginDestroy(); }

void TNMHTTP::Abort()
{
    SetWaitOver(true);
    Cancel();
}

void TNMHTTP::Run(CmdType command, const std::string& url)
{
    URL = url;
    Command = command;
    DoRequest();
}

void TNMHTTP::Get(const std::string& url) { Run(cmdGet, url); }
void TNMHTTP::Options(const std::string& url) { Run(cmdOptions, url); }
void TNMHTTP::Head(const std::string& url) { Run(cmdHead, url); }
void TNMHTTP::Delete(const std::string& url) { Run(cmdDelete, url); }

void TNMHTTP::Post(const std::string& url, const std::string& data)
{
    if (EncodePostData && !OutputFileMode) {
        TNMURL encoder;
        encoder.InputString = data;
        SendData = encoder.Encode();
    } else {
        SendData = data;
    }
    Run(cmdPost, url);
}

void TNMHTTP::Put(const std::string& url, const std::string& data)
{
    SendData = data;
    Run(cmdPut, url);
}

void TNMHTTP::Patch(const std::string& url, const std::string& data)
{
    SendData = data;
    Run(cmdPatch, url);
}

void TNMHTTP::Trace(const std::string& url, const std::string& data)
{
    SendData = data;
    Run(cmdTrace, url);
}

void TNMHTTP::Custom(const std::string& url, const std::string& data)
{
    SendData = data;
    Run(cmdCustom, url);
}

void TNMHTTP::Copy(const std::string& url, const std::string& value)
{
    ExtraHeaderValue = value;
    Run(cmdCopy, url);
}

void TNMHTTP::Move(const std::string& url, const std::string& value)
{
    ExtraHeaderValue = value;
    Run(cmdMove, url);
}

void TNMHTTP::Link(const std::string& url, const std::string& value)
{
    ExtraHeaderValue = value;
    SendData = "Send.dat";
    Run(cmdLink, url);
}

void TNMHTTP::Unlink(const std::string& url, const std::string& value)
{
    ExtraHeaderValue = value;
    SendData = "Send.dat";
    Run(cmdUnlink, url);
}

bool TNMHTTP::IsFollowed(int replyNumber)
{
    return (replyNumber >= 300 && replyNumber <= 303) || replyNumber == 307 || replyNumber == 308;
}

void TNMHTTP::DoRequest()
{
    bool startedSecure = false;
    for (int iteration = 1;; ++iteration) {
        if (iteration > MaxIterations)
            throw Exception("Too many redirects");
        ParseURL();
        if (iteration == 1)
            startedSecure = Secure;
        else if (startedSecure && !Secure)
            throw ESockError("Redirect from https to http refused: " + URL);
        ComposeRequest();
        if (OnAboutToSend)
            OnAboutToSend(this);
        try {
            Connect();
            if (Secure && !Proxy.empty())
                OpenTunnel();
            SendRequest();
            ReplyNumber = 0;
            ReadReplyHeader();
            CaptureBody();
            if (ReplyNumber < 299) {
                if (OnSuccess)
                    OnSuccess(this, Command);
                ReportStatus(2, "Transaction Completed");
            } else if (ReplyNumber > 399) {
                if (OnFailure)
                    OnFailure(this, Command);
            } else if (IsFollowed(ReplyNumber)) {
                URL = ReplyLocation;
            }
        } catch (...) {
            try {
                Disconnect();
            } catch (...) {
            }
            throw;
        }
        Disconnect();
        if (ReplyNumber >= 300 && ReplyNumber <= 398) {
            if (!ReplyCookie.empty())
                HeaderInfo.Cookie = ReplyCookie;
            bool handled = false;
            if (OnRedirect)
                OnRedirect(this, handled);
            if (handled)
                return;
            if (URL.find('/') == std::string::npos) { // a file name on the current host and port
                std::string target = Secure ? "https://" : "http://";
                target += Host;
                if (Port != (Secure ? 443 : 80))
                    target.append(":").append(IntToStr(Port));
                target.append("/").append(URL);
                URL = std::move(target);
            }
        }
        if (ReplyNumber == 401 && OnAuthenticationNeeded)
            OnAuthenticationNeeded(this);
        if (!IsFollowed(ReplyNumber))
            return;
    }
}

void TNMHTTP::CaptureBody()
{
    BytesRecvd = 0;
    BodyAppended = false;
    const bool noBody = Command == cmdHead || ReplyNumber == 204 || ReplyNumber == 304;
    const bool success = ReplyNumber >= 200 && ReplyNumber <= 299;
    if (ReplyNumber == 206) {
        // The part must be of the version the validator names, when the
        // reply says which version it is.
        const bool entityTag = RangeValidator.rfind("\"", 0) == 0 || RangeValidator.rfind("W/", 0) == 0;
        const std::string& version = entityTag ? ReplyETag : ReplyLastModified;
        const bool matches = RangeFrom >= 0 && ReplyRangeStart == RangeFrom &&
                             (ReplyRangeEnd < 0 || ContentLength < 0 || ReplyRangeEnd - ReplyRangeStart + 1 == ContentLength) &&
                             (RangeValidator.empty() || version.empty() || version == RangeValidator);
        if (!matches) {
            ClearLastErrorNo();
            throw ESockError("Partial reply does not match the request");
        }
    }
    if (noBody || (!KeepErrorBodies && !success)) {
        if (InputFileMode && (KeepErrorBodies || success)) {
            std::FILE* file = OpenForWriting(Body, false);
            if (!file)
                throw EFCreateError::CannotCreate(Body);
            std::fclose(file);
        } else if (!InputFileMode) {
            Body.clear();
        }
        return;
    }
    const bool append = ReplyNumber == 206;
    if (InputFileMode) {
        CaptureFile(Body, ContentLength, append);
    } else {
        const auto tooLong = [this] {
            ClearLastErrorNo();
            throw ESockError("Reply body too long");
        };
        if (BodyLimit >= 0 && ContentLength > BodyLimit)
            tooLong();
        CaptureString(Body, BodyLimit >= 0 ? BodyLimit + 1 : -1, ContentLength);
        if (BodyLimit >= 0 && static_cast<std::int64_t>(Body.size()) > BodyLimit)
            tooLong();
    }
    BodyAppended = append;
}

void TNMHTTP::ParseURL()
{
    if (URL.empty())
        throw Exception("Empty URL");
    if (URL.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        throw Exception("Invalid URL");
    if (Port == 0)
        Port = 80;
    const bool twoSlashes = URL.find("//") != std::string::npos;
    if (twoSlashes) {
        const std::size_t third = nthSlash(URL, 3);
        Path = (third == std::string::npos || third + 1 == URL.size()) ? std::string() : URL.substr(third);
    } else if (const std::size_t first = URL.find('/'); first != std::string::npos) {
        Path = URL.substr(first);
    } else {
        Path.clear();
    }
    // A colon after a "/" belongs to the path or query of a location
    // without scheme, which stays on the scheme and port in use.
    if (const std::size_t colon = URL.find(':');
        colon != std::string::npos && URL.find('/') > colon) {
        const std::string scheme = LowerCase(URL.substr(0, colon));
        if (scheme == "gopher")
            Port = 70;
        else if (scheme == "ftp")
            Port = 21;
        else if (scheme == "https")
            Port = 443;
        else
            Port = 80;
        Secure = scheme == "https";
    }
    std::string host;
    if (twoSlashes) {
        const std::size_t second = nthSlash(URL, 2);
        const std::size_t third = nthSlash(URL, 3);
        if (second != std::string::npos)
            host = URL.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    } else if (!URL.empty() && URL[0] != '/') {
        host = URL.substr(0, URL.find('/'));
    }
    // An IPv6 literal keeps its brackets ("[::1]:8080" is host "[::1]").
    const std::size_t closing = !host.empty() && host[0] == '[' ? host.find(']') : std::string::npos;
    if (const std::size_t colon = host.find(':', closing == std::string::npos ? 0 : closing);
        colon != std::string::npos) {
        Port = StrToInt(host.substr(colon + 1));
        host.erase(colon);
    }
    if (!host.empty())
        Host = host;
    if (Path.empty()) {
        Path.assign(1, '/');
        URL.push_back('/');
    }
}

void TNMHTTP::ComposeRequest()
{
    RequestLines.Clear();
    if (Command < cmdCustom)
        RequestLines.Add(std::string(requestWords[Command]) + (ProxyForm() ? URL : Path) + " HTTP/1.0");
    if (ProxyForm()) {
        RequestLines.Add("Proxy-Connection: Keep-Alive");
        RequestLines.Add("Host: " + Host);
    }
    RequestLines.SetField("Host", Host);
    RequestLines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    RequestLines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo.LocalProgram.empty())
        RequestLines.SetField("User-Agent", HeaderInfo.LocalProgram);
    if (!HeaderInfo.LocalMailAddress.empty())
        RequestLines.SetField("From", HeaderInfo.LocalMailAddress);
    if (!HeaderInfo.Cookie.empty())
        RequestLines.SetField("Cookie", HeaderInfo.Cookie);
    if (!HeaderInfo.Referer.empty())
        RequestLines.SetField("Referer", HeaderInfo.Referer);
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()) {
        std::string encoded = TNMUUProcessor::EncodeText(HeaderInfo.UserId + ":" + HeaderInfo.Password, uuMime);
        std::string oneLine;
        for (char c : encoded)
            if (c != '\r' && c != '\n')
                oneLine += c;
        RequestLines.SetField("Authorization", "Basic " + oneLine);
    }
    if (ProxyForm() && !ProxyAuthorization.empty())
        RequestLines.SetField("Proxy-Authorization", ProxyAuthorization);
    if (RangeFrom >= 0) {
        RequestLines.SetField("Range", "bytes=" + IntToStr(RangeFrom) + "-");
        if (!RangeValidator.empty())
            RequestLines.SetField("If-Range", RangeValidator);
    }
    RequestLines.Add("Content-type: application/x-www-form-urlencoded");
    if (Command == cmdCopy || Command == cmdMove)
        RequestLines.Add("URI-header: " + ExtraHeaderValue);
    if (Command == cmdLink || Command == cmdUnlink)
        RequestLines.Add("Link: " + ExtraHeaderValue);
    if (hasBody(Command) || Command == cmdLink || Command == cmdUnlink) {
        std::int64_t length = static_cast<std::int64_t>(SendData.size());
        if (OutputFileMode) {
            std::FILE* file = std::fopen(SendData.c_str(), "rb");
            if (!file)
                throw EFOpenError::CannotOpen(SendData);
            std::fseek(file, 0, SEEK_END);
            length = std::ftell(file);
            std::fclose(file);
        }
        RequestLines.Add("Content-Length: " + IntToStr(length));
    }
    // A NUL ends what Write sends, and CR or LF would end a line early: a
    // field value holding one (a cookie a server set, say) cannot be sent.
    for (const std::string& line : RequestLines)
        if (line.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
            throw Exception("Invalid header field");
    // The tunnel's request carries it too.
    if (ProxyAuthorization.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        throw Exception("Invalid header field");
}

void TNMHTTP::OpenTunnel()
{
    ReportStatus(8, "Opening Tunnel");
    const std::string authority = Host + ":" + IntToStr(Port);
    std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
    if (!ProxyAuthorization.empty())
        request += "Proxy-Authorization: " + ProxyAuthorization + "\r\n";
    Write(request + "\r\n");
    const std::string status = ReadLn();
    if (status.empty()) {
        ClearLastErrorNo();
        throw ESockError("Proxy closed the connection before the tunnel opened");
    }
    std::size_t size = status.size();
    for (;;) {
        const std::string line = ReadLn();
        if (line.empty()) {
            ClearLastErrorNo();
            throw ESockError("Proxy closed the connection before the tunnel opened");
        }
        if (line == "\n" || line == "\r\n")
            break;
        size += line.size();
        if (size > MaxHeaderSize) {
            ClearLastErrorNo();
            throw ESockError("Header too long");
        }
    }
    // "HTTP/1.x 200 ...": the second field.
    std::size_t start = status.find(' ');
    while (start != std::string::npos && start < status.size() && status[start] == ' ')
        ++start;
    const std::string number = start == std::string::npos ? std::string() : status.substr(start, 3);
    if (number.size() != 3 || number[0] != '2' || status.find_first_not_of("0123456789", start) != start + 3) {
        ClearLastErrorNo();
        throw ESockError("Proxy refused the tunnel: " + withoutTerminator(status));
    }
    StartSecure();
}

void TNMHTTP::SendRequest()
{
    Write(RequestLines.Text());
    Writeln("");
    if (hasBody(Command)) {
        if (OutputFileMode)
            SendFile(SendData);
        else
            Write(SendData);
    }
}

void TNMHTTP::ReadField(const std::string& line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return;
    const std::string name = LowerCase(trimmed(line.substr(0, colon)));
    const std::string value = trimmed(line.substr(colon + 1));
    if (name == "content-length") {
        const std::int64_t length = decimal(value);
        if (length < 0 || (ContentLength >= 0 && ContentLength != length)) {
            ClearLastErrorNo();
            throw ESockError("Invalid Content-Length");
        }
        ContentLength = length;
    } else if (name == "retry-after") {
        ReplyRetryAfter = value;
    } else if (name == "etag") {
        ReplyETag = value;
    } else if (name == "last-modified") {
        ReplyLastModified = value;
    } else if (name == "content-range" && LowerCase(value).rfind("bytes ", 0) == 0) {
        // "bytes START-END/TOTAL", "bytes */TOTAL"; TOTAL may be "*".
        const std::string range = trimmed(value.substr(6));
        const std::size_t slash = range.find('/');
        const std::string span = range.substr(0, slash);
        if (slash != std::string::npos)
            ReplyRangeTotal = decimal(range.substr(slash + 1));
        if (const std::size_t dash = span.find('-'); dash != std::string::npos) {
            ReplyRangeStart = decimal(span.substr(0, dash));
            ReplyRangeEnd = decimal(span.substr(dash + 1));
            if (ReplyRangeStart < 0 || ReplyRangeEnd < ReplyRangeStart)
                ReplyRangeStart = ReplyRangeEnd = -1;
        }
    }
}

void TNMHTTP::ReadReplyHeader()
{
    BytesTotal = 0;
    ReplyCookie.clear();
    StatusLine.clear();
    ContentLength = -1;
    ReplyETag.clear();
    ReplyLastModified.clear();
    ReplyRetryAfter.clear();
    ReplyRangeStart = ReplyRangeEnd = ReplyRangeTotal = -1;
    std::FILE* file = nullptr;
    if (OutputFileMode) {
        file = OpenForWriting(Header, false);
        if (!file)
            throw EFCreateError::CannotCreate(Header);
    } else {
        Header.clear();
    }
    struct Closer {
        std::FILE*& f;
        ~Closer()
        {
            if (f)
                std::fclose(f);
        }
    } closer{file};
    auto append = [&](const std::string& line) {
        if (file) {
            if (std::fwrite(line.data(), 1, line.size(), file) != line.size())
                throw EStreamError("ファイル " + Header + " に書き込めません", errno);
        } else {
            Header += line;
        }
    };

    const std::string status = ReadLn();
    StatusLine = status;
    if (!status.empty()) {
        // The second blank-separated field, which must be followed by a blank.
        std::size_t start = status.find(' ');
        while (start != std::string::npos && start < status.size() && status[start] == ' ')
            ++start;
        ReplyNumber = 0;
        if (start != std::string::npos && start < status.size()) {
            const std::size_t end = status.find(' ', start);
            if (end != std::string::npos) {
                const std::int32_t number = StrToIntDef(status.substr(start, end - start), 0);
                ReplyNumber = (number >= -32768 && number <= 32767) ? number : 0;
            }
        }
    }
    append(status);
    std::size_t headerSize = status.size();
    for (;;) {
        const std::string line = ReadLn();
        const std::string upper = UpperCase(line);
        const std::string field = upper.substr(0, upper.find(' '));
        if (field == "SET-COOKIE:")
            ReplyCookie = line.size() > 12 ? withoutTerminator(line.substr(12)) : std::string();
        else if (field == "LOCATION:")
            ReplyLocation = line.size() > 10 ? withoutTerminator(line.substr(10)) : std::string();
        else if (field == "CONTENT-LENGTH:") {
            std::size_t pos = upper.find(':') + 1;
            while (pos < line.size() && line[pos] == ' ')
                ++pos;
            std::int64_t total = 0;
            while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9' && total < (INT64_MAX - 9) / 10)
                total = total * 10 + (line[pos++] - '0');
            BytesTotal = total;
        }
        append(line);
        if (line.empty() || line == "\n" || line == "\r\n")
            break;
        ReadField(line);
        headerSize += line.size();
        if (headerSize > MaxHeaderSize) {
            ClearLastErrorNo(); // the peeks leave "would block" behind
            throw ESockError("Header too long");
        }
    }
    if (file) {
        const bool flushed = std::fclose(file) == 0;
        file = nullptr;
        if (!flushed)
            throw EStreamError("ファイル " + Header + " に書き込めません", errno);
    }
}
