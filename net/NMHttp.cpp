#include "net/NMHttp.h"

#include "net/NMURL.h"
#include "net/NMUUE.h"
#include "net/Url.h"
#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

const char* const requestWords[] = {"GET ",    "OPTIONS ", "HEAD ",  "POST ",   "PUT ",    "PATCH ",
                                    "COPY ",   "MOVE ",    "DELETE ", "LINK ",  "UNLINK ", "TRACE "};

std::string fieldName(const std::string& line)
{
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon);
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
    following_ = false;
    struct Done {
        bool& following;
        ~Done() { following = false; }
    } done{following_};
    for (int iteration = 1;; ++iteration) {
        if (iteration > MaxIterations)
            throw Exception("Too many redirects");
        ParseURL();
        if (iteration == 1) {
            startedSecure = Secure;
            firstHost_ = LowerCase(Host);
            credentials_.clear();
            if (!urlCredentials_ && !HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty())
                credentials_.push_back({Origin(), HeaderInfo.UserId, HeaderInfo.Password});
        } else if (startedSecure && !Secure) {
            throw ESockError("Redirect from https to http refused: " + URL);
        }
        if (urlCredentials_) {
            // The credentials of that origin from now on, in this cycle.
            const std::string origin = Origin();
            std::erase_if(credentials_, [&](const TCredentials& c) { return c.origin == origin; });
            credentials_.push_back({origin, urlUser_, urlPassword_});
        }
        ComposeRequest();
        if (OnAboutToSend)
            OnAboutToSend(this);
        bool follow = false;
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
            } else if (IsFollowed(ReplyNumber) && !ReplyLocation.empty()) {
                const std::string target = ResolveReference(address_, ReplyLocation);
                const std::string scheme = LowerCase(SplitReference(target).Scheme);
                if (scheme != "http" && scheme != "https") {
                    ClearLastErrorNo();
                    throw ESockError("Unsupported scheme: " + scheme);
                }
                URL = target;
                follow = true;
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
            KeepCookies();
            bool handled = false;
            if (OnRedirect)
                OnRedirect(this, handled);
            if (handled)
                return;
        }
        if (ReplyNumber == 401 && OnAuthenticationNeeded)
            OnAuthenticationNeeded(this);
        if (!follow)
            return;
        following_ = true;
    }
}

std::string TNMHTTP::Origin() const
{
    return std::string(Secure ? "https://" : "http://") + LowerCase(Host) + ":" + IntToStr(Port);
}

std::string TNMHTTP::HostField() const
{
    return Host.empty() || Port == (Secure ? 443 : 80) ? Host : Host + ":" + IntToStr(Port);
}

void TNMHTTP::KeepCookies()
{
    const std::string host = LowerCase(Host);
    for (const std::string& value : reply_.Values("set-cookie")) {
        // name=value, without the attributes after the first ";".
        const std::string pair = trimmed(value.substr(0, value.find(';')));
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = trimmed(pair.substr(0, equals));
        if (name.empty())
            continue;
        std::erase_if(cookies_, [&](const TCookie& c) { return c.host == host && c.name == name; });
        if (cookies_.size() >= MaxCookies)
            cookies_.erase(cookies_.begin());
        cookies_.push_back({host, name, trimmed(pair.substr(equals + 1))});
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
    TChunkedDecoder decoder;
    TChunkedDecoder* chunks = chunked_ ? &decoder : nullptr;
    if (InputFileMode) {
        CaptureFile(Body, ContentLength, append, chunks);
    } else {
        const auto tooLong = [this] {
            ClearLastErrorNo();
            throw ESockError("Reply body too long");
        };
        if (BodyLimit >= 0 && ContentLength > BodyLimit)
            tooLong();
        CaptureString(Body, BodyLimit >= 0 ? BodyLimit + 1 : -1, ContentLength, chunks);
        if (BodyLimit >= 0 && static_cast<std::int64_t>(Body.size()) > BodyLimit)
            tooLong();
    }
    BodyAppended = append;
}

void TNMHTTP::ParseURL()
{
    if (const std::size_t hash = URL.find('#'); hash != std::string::npos)
        URL.erase(hash); // the fragment is the client's, never sent
    if (URL.empty())
        throw Exception("Empty URL");
    if (URL.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        throw Exception("Invalid URL");
    if (Port == 0)
        Port = 80;
    // The scheme: the text before a colon that comes before any "/" or "?",
    // unless a digit follows that colon ("host:8080/x" has none). A colon
    // after a "/" belongs to the path or query ("/f?t=12:00").
    std::size_t start = 0;
    const std::size_t colon = URL.find(':');
    if (colon != std::string::npos && colon < URL.find_first_of("/?")) {
        const std::string before = URL.substr(0, colon);
        if (IsSchemeName(before) && !(colon + 1 < URL.size() && URL[colon + 1] >= '0' && URL[colon + 1] <= '9')) {
            const std::string scheme = LowerCase(before);
            if (scheme != "http" && scheme != "https") {
                ClearLastErrorNo();
                throw ESockError("Unsupported scheme: " + scheme);
            }
            Secure = scheme == "https";
            Port = Secure ? 443 : 80;
            start = colon + 1;
        } else {
            Port = 80; // a host and its port, without a scheme
            Secure = false;
        }
    }
    // The authority, then the path with the query.
    std::string authority;
    std::size_t pathStart = start;
    const bool twoSlashes = URL.compare(start, 2, "//") == 0;
    if (twoSlashes || (start < URL.size() && URL[start] != '/')) {
        const std::size_t from = twoSlashes ? start + 2 : start;
        pathStart = std::min(URL.find_first_of("/?", from), URL.size());
        authority = URL.substr(from, pathStart - from);
    }
    Path = URL.substr(pathStart);
    if (!Path.empty() && Path[0] == '?')
        Path.insert(0, 1, '/');
    // Dot segments are resolved here, as browsers and curl do, not left to
    // the server ("/x y/../../f" asks for "/f").
    const std::size_t query = std::min(Path.find('?'), Path.size());
    Path.replace(0, query, RemoveDotSegments(std::string_view(Path).substr(0, query)));
    urlCredentials_ = false;
    urlUser_.clear();
    urlPassword_.clear();
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string userinfo = authority.substr(0, at);
        const std::size_t separator = userinfo.find(':');
        urlUser_ = PercentDecode(userinfo.substr(0, separator));
        if (separator != std::string::npos)
            urlPassword_ = PercentDecode(userinfo.substr(separator + 1));
        urlCredentials_ = !urlUser_.empty();
        authority.erase(0, at + 1);
    }
    // An IPv6 literal keeps its brackets ("[::1]:8080" is host "[::1]").
    const std::size_t closing = !authority.empty() && authority[0] == '[' ? authority.find(']') : std::string::npos;
    if (const std::size_t portColon = authority.find(':', closing == std::string::npos ? 0 : closing);
        portColon != std::string::npos) {
        const std::string text = authority.substr(portColon + 1);
        if (!text.empty()) {
            std::int64_t port = 0;
            if (text.find_first_not_of("0123456789") == std::string::npos)
                port = text.size() > 6 ? 0 : std::stoll(text);
            else
                port = StrToInt(text); // the conversion error for a text that is no number
            if (port < 1 || port > 65535) {
                ClearLastErrorNo();
                throw ESockError("Invalid port number: " + text);
            }
            Port = static_cast<int>(port);
        }
        authority.erase(portColon);
    }
    if (!authority.empty())
        Host = authority;
    if (Port < 1 || Port > 65535 || (!Proxy.empty() && (ProxyPort < 1 || ProxyPort > 65535))) {
        ClearLastErrorNo();
        throw ESockError("Invalid port number: " + IntToStr(Port < 1 || Port > 65535 ? Port : ProxyPort));
    }
    address_ = std::string(Secure ? "https://" : "http://") + HostField() + (Path.empty() ? "/" : Path);
    // As the component always did: a URL without a path, or with nothing
    // after the "/" that follows its host, gets "/" appended.
    if (Path.empty() || (twoSlashes && Path == "/")) {
        Path.assign(1, '/');
        URL.push_back('/');
    }
}

void TNMHTTP::ComposeRequest()
{
    RequestLines.Clear();
    // A request that resumes is HTTP/1.1 with "Connection: close": some
    // servers (lighttpd) ignore If-Range from an HTTP/1.0 client and send
    // the whole file again. Every other request stays HTTP/1.0.
    const bool resuming = RangeFrom >= 0;
    if (Command < cmdCustom)
        RequestLines.Add(std::string(requestWords[Command]) + EncodeRequestTarget(ProxyForm() ? address_ : Path) +
                         (resuming ? " HTTP/1.1" : " HTTP/1.0"));
    if (ProxyForm()) {
        RequestLines.Add("Proxy-Connection: Keep-Alive");
        RequestLines.Add("Host: " + HostField());
    }
    RequestLines.SetField("Host", HostField());
    RequestLines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    RequestLines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo.LocalProgram.empty())
        RequestLines.SetField("User-Agent", HeaderInfo.LocalProgram);
    if (!HeaderInfo.LocalMailAddress.empty())
        RequestLines.SetField("From", HeaderInfo.LocalMailAddress);
    // The caller's cookie and credentials are for the host (and the
    // origin) of the request it asked for; a redirect elsewhere gets
    // neither, nor cookies set by another host.
    std::string cookie = !following_ || LowerCase(Host) == firstHost_ ? HeaderInfo.Cookie : std::string();
    for (const TCookie& c : cookies_)
        if (c.host == LowerCase(Host))
            cookie += (cookie.empty() ? "" : "; ") + c.name + "=" + c.value;
    if (!cookie.empty())
        RequestLines.SetField("Cookie", cookie);
    if (!HeaderInfo.Referer.empty())
        RequestLines.SetField("Referer", HeaderInfo.Referer);
    std::string user, password;
    const std::string origin = Origin();
    const auto given = std::find_if(credentials_.begin(), credentials_.end(),
                                    [&](const TCredentials& c) { return c.origin == origin; });
    if (urlCredentials_) {
        user = urlUser_;
        password = urlPassword_;
    } else if (given != credentials_.end()) {
        user = given->user;
        password = given->password;
    } else if (!following_ && !HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()) {
        user = HeaderInfo.UserId; // a request composed outside a request cycle
        password = HeaderInfo.Password;
    }
    if (!user.empty()) {
        std::string encoded = TNMUUProcessor::EncodeText(user + ":" + password, uuMime);
        std::string oneLine;
        for (char c : encoded)
            if (c != '\r' && c != '\n')
                oneLine += c;
        RequestLines.SetField("Authorization", "Basic " + oneLine);
    }
    if (ProxyForm() && !ProxyAuthorization.empty())
        RequestLines.SetField("Proxy-Authorization", ProxyAuthorization);
    if (RangeFrom >= 0) {
        RequestLines.SetField("Connection", "close");
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

void TNMHTTP::ReadFields()
{
    ReplyLocation = reply_.Last("location");
    ReplyCookie = reply_.Last("set-cookie");
    ReplyETag = reply_.Last("etag");
    ReplyLastModified = reply_.Last("last-modified");
    ReplyRetryAfter = reply_.Last("retry-after");
    if (const std::string value = reply_.Last("content-range"); LowerCase(value).rfind("bytes ", 0) == 0) {
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
    const THttpReply::TBodyFraming framing = reply_.BodyFraming();
    if (!framing.Error.empty()) {
        ClearLastErrorNo();
        throw ESockError(framing.Error);
    }
    chunked_ = framing.Kind == THttpReply::Chunked;
    ContentLength = framing.Kind == THttpReply::ByLength ? framing.Length : -1;
    BytesTotal = std::max<std::int64_t>(ContentLength, 0);
}

void TNMHTTP::ReadReplyHeader()
{
    BytesTotal = 0;
    ReplyCookie.clear();
    ReplyLocation.clear();
    StatusLine.clear();
    ContentLength = -1;
    chunked_ = false;
    ReplyETag.clear();
    ReplyLastModified.clear();
    ReplyRetryAfter.clear();
    ReplyRangeStart = ReplyRangeEnd = ReplyRangeTotal = -1;
    reply_ = THttpReply();
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
    auto writeError = [this] { throw EStreamError("ファイル " + Header + " に書き込めません", errno); };
    auto append = [&](const std::string& line) {
        if (file) {
            if (std::fwrite(line.data(), 1, line.size(), file) != line.size())
                writeError();
        } else {
            Header += line;
        }
    };

    std::size_t headerSize = 0;
    bool statusDue = true;
    for (;;) {
        const std::string line = ReadLn();
        if (line.empty()) {
            if (headerSize == 0)
                break; // closed before any reply
            ClearLastErrorNo();
            throw ESockError("Transfer closed with outstanding read data remaining (reply header incomplete)");
        }
        if (statusDue)
            StatusLine = line;
        append(line);
        const THttpReply::TFeed step = reply_.Feed(line);
        if (line != "\n" && line != "\r\n")
            headerSize += line.size();
        if (step == THttpReply::Failed) {
            ClearLastErrorNo();
            throw ESockError(reply_.Error());
        }
        if (headerSize > MaxHeaderSize) {
            ClearLastErrorNo(); // the peeks leave "would block" behind
            throw ESockError("Header too long");
        }
        if (statusDue)
            ReplyNumber = reply_.Code();
        statusDue = step == THttpReply::Interim;
        if (step == THttpReply::Complete)
            break;
        if (step == THttpReply::Interim) {
            // The final reply's header is the one kept.
            if (file) {
                if (std::fflush(file) != 0 || ::ftruncate(::fileno(file), 0) != 0)
                    writeError();
                std::rewind(file);
            } else {
                Header.clear();
            }
        }
    }
    if (reply_.Code() != 0)
        ReadFields();
    if (file) {
        const bool flushed = std::fclose(file) == 0;
        file = nullptr;
        if (!flushed)
            writeError();
    }
}
