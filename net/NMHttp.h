// TNMHTTP: the HTTP/1.0 client component, built on TPowersock.
//
// One request cycle (DoRequest): split the URL, compose the request lines,
// connect (directly, or to Proxy/ProxyPort), send, read the status line and
// the header lines, capture the body until the server closes, judge the
// reply number and follow redirects. The header goes to the file named by
// Header (OutputFileMode) or into Header itself; the body to the file named
// by Body (InputFileMode) or into Body itself. Every iteration opens a fresh
// connection and closes it again, also when an exception ends it; what was
// written to disk so far stays there, closed.
//
// Property style as in TPowersock: public fields named as the component
// names them (`http.Body`, `http.ReportLevel = 2`, `http.OnStatus = ...`).
//
// Choices of this port:
//  - Redirects end: at most 20 iterations; one more redirect fails with the
//    general exception "Too many redirects" (not ESockError). 303, 307 and
//    308 are followed like 300..302; 299, 304..306 and 309..399 end the
//    cycle as final replies.
//  - A Location (its name in any case, blanks around its value, folded or
//    not) is resolved against the address of the request it answers
//    (Address()) as browsers resolve it (RFC 3986 section 5: relative
//    paths, dot segments, "?q" alone, "//host/path"), its fragment
//    dropped; URL then holds the result. Only http and https are followed:
//    another scheme (ftp:, file:, javascript: ...) raises ESockError
//    "Unsupported scheme: ftp" before any connection, and so does a URL
//    the caller gives. A redirect reply without a Location ends the cycle
//    as that reply (its number stays in ReplyNumber): nothing is asked of
//    "/" and no earlier Location is used, since every reply starts with an
//    empty ReplyLocation.
//  - Path, ReplyLocation and ReplyCookie are kept whole (no 256-character
//    cut), so a long address or redirect target is requested as given.
//  - What goes on the wire: the request-target (Path, or the whole address
//    through a proxy) with the bytes a request-target may not hold
//    percent-encoded (EncodeRequestTarget, net/Url.h: a blank as %20, a
//    non-ASCII character as the %XX of its UTF-8 bytes, an existing %XX as
//    it is); the Host line with ":PORT" when the port is not the scheme's
//    default (a stock Apache builds its folder redirects from it). The
//    fragment ("#...") of a URL is dropped by ParseURL, and the dot
//    segments of its path resolved ("/x y/../../f" is "/f").
//  - A port outside 1..65535 (in a URL, a Location, Port or, with a
//    proxy, ProxyPort) raises ESockError "Invalid port number: TEXT" in
//    ParseURL; an empty port (":/") is the scheme's default. A scheme is
//    the text before a colon that comes before any "/" or "?", when no
//    digit follows the colon ("host:8080/x" is a host and its port).
//  - Credentials go only where they were given: HeaderInfo's UserId and
//    Password to the scheme, host and port of the URL the caller asked
//    for, also when a redirect comes back to it; "user:password@" in that
//    URL or in a Location to the scheme, host and port it names, for the
//    rest of the cycle (they win over HeaderInfo's). A redirect to another
//    origin carries no Authorization.
//  - Cookies: those a redirect reply sets (every Set-Cookie line of it)
//    are kept by the component for the host that set it, as name=value
//    without the attributes, and sent back only to that host, in any later
//    request of the component (at most 64; the oldest goes first). They no
//    longer go into HeaderInfo.Cookie; HeaderInfo.Cookie, the caller's
//    own, goes to the host of the request it asked for and not to another
//    one a redirect names.
//  - A reply is read as an HTTP/1.1 client reads it (THttpReply,
//    net/HttpReply.h): a status line "HTTP/1.x CODE [REASON]" with exactly
//    three digits; interim replies (100, 103 ...) skipped; field names in
//    any case, blanks and tabs around values; a folded line joined to the
//    field before it. Failures are ESockError with LastErrorNo 0:
//    "Malformed reply (status line)", "Malformed reply (NUL in the
//    header)", "Malformed reply (CR without LF in the header)", "Malformed
//    reply (continuation line without a field)", "Unexpected 101 reply
//    (switching protocols)". The header capture holds the final reply's
//    header byte for byte (an interim reply's is dropped). A connection
//    that closes before any byte of a reply leaves ReplyNumber 0 and an
//    empty StatusLine, without an exception, as the component always did;
//    one that closes in the middle of a header raises ESockError
//    "Transfer closed with outstanding read data remaining (reply header
//    incomplete)".
//  - Link and Unlink announce a Content-Length (of "Send.dat") but send no
//    body; the operation with code 12 (Custom) composes no request line and
//    sends Content-Length and its data, both as the component always did.
//  - A line of the reply header longer than 65,536 bytes fails the request
//    with ESockError "Line too long".
//  - A URL holding a NUL, CR or LF byte fails ParseURL with the general
//    exception "Invalid URL", and a request field whose value holds one
//    (a cookie a server set, or a caller's field) fails ComposeRequest
//    with "Invalid header field", both before any
//    connection: Write stops at a NUL, so such a request would go out cut
//    short and wait for the server's time-out; CR and LF would end its
//    lines early.
//  - A reply header is at most 256 KiB: once the status line and the header
//    lines together pass MaxHeaderSize bytes, the request fails with
//    ESockError "Header too long" and LastErrorNo 0 (the blank line that
//    ends a header does not count). The connection is closed and the header
//    capture keeps what was read, the line that passed the limit included.
//    Without the limit a server that sends short header lines without end
//    would fill the disk, as every line restarts the time-out.
//  - The body ends where the reply says. "Transfer-Encoding: chunked"
//    (which wins over Content-Length) is decoded (TChunkedDecoder): the
//    body file or text holds only the data, BytesRecvd counts data bytes,
//    the capture stops after the last chunk and we close the connection; a
//    bad chunk raises ESockError "Invalid chunked encoding (...)", an end
//    before the last chunk "Transfer closed with outstanding read data
//    remaining (N bytes received, the last chunk missing)". Another
//    transfer coding raises "Unsupported transfer coding: gzip" once the
//    header is read. Otherwise a Content-Length (a list of equal values
//    such as "100, 100" is that length) makes the capture stop after that
//    many bytes, and we close the connection, so a peer that keeps it
//    open (a keep-alive proxy) does not hold the request until the
//    time-out; a body that ends before raises ESockError "Transfer closed
//    with outstanding read data remaining (...)". A value that is not a
//    decimal number of at most 18 digits, or values that differ, fail with
//    ESockError "Invalid Content-Length". ContentLength and BytesTotal
//    hold the length (-1 and 0 when the body is chunked or has none).
//    Without either the peer's close ends the body. A HEAD reply, a 204
//    and a 304 have no body: nothing is read after their header (in
//    input-file mode the body file is still created empty).
//  - https: ParseURL takes the scheme "https" as port 443 (an explicit port
//    still wins) and sets Secure, so Connect runs TLS with the certificate
//    checked (TPowersock); the request inside is the same HTTP/1.0 request.
//    A redirect that leaves https for plain http is refused with ESockError
//    "Redirect from https to http refused: URL" once the connection is
//    closed: a request that began secure stays secure. A Location without a
//    scheme stays on the scheme in use, and so does one whose first colon
//    comes after a "/" ("/f?t=12:00"): that colon is no scheme's or port's.
//  - Ranges, for a caller that resumes: RangeFrom >= 0 sends
//    "Range: bytes=N-" and, with RangeValidator, "If-Range: VALIDATOR",
//    in an HTTP/1.1 request with "Connection: close" (lighttpd answers an
//    HTTP/1.0 request with If-Range by the whole file; the reply may be
//    chunked, which the reader decodes).
//    A 206 whose Content-Range starts at RangeFrom (and whose length agrees
//    with its Content-Length) is appended to the body file (BodyAppended);
//    a 206 to a request without a range, or for another range, fails with
//    ESockError "Partial reply does not match the request" before any byte
//    of the body is written. ReplyETag, ReplyLastModified and
//    ReplyRangeStart/End/Total tell the caller what the reply said.
//  - ReplyRetryAfter keeps the reply's Retry-After value (seconds or an
//    HTTP date) for a caller that tries again.
//  - KeepErrorBodies false: the body of a reply outside 200..299 is not
//    read, so an error page or a redirect's page never overwrites the body
//    file (the caller's partial download stays as it was).
//  - BodyLimit (>= 0) bounds a body captured into Body as a string: a
//    Content-Length above it, or more bytes than it, fail with ESockError
//    "Reply body too long" (a small file the caller reads whole, such as a
//    signature, cannot fill the memory).
//  - StatusLine keeps the last status line as received; it is empty when
//    the server closed without any reply.
//  - An IPv6 literal in brackets is a host: "http://[::1]:8080/f" is host
//    "[::1]" (the Host line keeps the brackets) and port 8080.
//  - Through a proxy: ProxyAuthorization, when set, is sent as
//    "Proxy-Authorization: VALUE" ("Basic ..."). A plain request keeps the
//    proxy form (absolute URL, "Proxy-Connection: Keep-Alive", one Host
//    line). An https request opens a tunnel first: "CONNECT HOST:PORT
//    HTTP/1.0" with a Host line of the same text (and Proxy-Authorization),
//    then, on a 2xx reply, TLS runs end to end with the certificate of HOST
//    checked, and the request inside is the direct one. Any other reply
//    fails with ESockError "Proxy refused the tunnel: STATUS LINE"; a proxy
//    that closes first, "Proxy closed the connection before the tunnel
//    opened". The proxy's reply number never becomes ReplyNumber.
#pragma once
#include "net/HttpReply.h"
#include "net/Psock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum CmdType : std::uint8_t {
    cmdGet = 0,
    cmdOptions = 1,
    cmdHead = 2,
    cmdPost = 3,
    cmdPut = 4,
    cmdPatch = 5,
    cmdCopy = 6,
    cmdMove = 7,
    cmdDelete = 8,
    cmdLink = 9,
    cmdUnlink = 10,
    cmdTrace = 11,
    cmdCustom = 12,
};

using TResultEvent = std::function<void(TObject* Sender, CmdType Cmd)>;

// A line list whose lines read "name: value".
class TExStringList : public TStringList {
public:
    // Index of the first line whose text before its first ":" equals name
    // (ignoring case), or -1.
    int IndexOfField(const std::string& name) const;
    // Non-empty value: replace or append "name: value"; empty: delete it.
    void SetField(const std::string& name, const std::string& value);
};

class THeaderInfo : public TObject {
public:
    std::string LocalMailAddress;
    std::string LocalProgram;
    std::string Cookie;
    std::string Referer;
    std::string UserId;
    std::string Password;
};

class TNMHTTP : public TPowersock {
public:
    static constexpr int MaxIterations = 20;
    static constexpr std::size_t MaxHeaderSize = 256 * 1024;

    explicit TNMHTTP(TComponent* owner = nullptr);
    ~TNMHTTP() override;

    std::string Body = "Default.htm";
    std::string Header = "Head.txt";
    std::string Path;
    TExStringList RequestLines;
    std::string ReplyLocation;
    THeaderInfo HeaderInfo;
    std::string ReplyCookie;
    bool InputFileMode = false;
    bool OutputFileMode = false;
    bool EncodePostData = true;
    std::string SendData;
    std::string ExtraHeaderValue;
    std::string URL;
    CmdType Command = cmdGet;
    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    TNotifyEvent OnAboutToSend;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // This port's additions (see the header comment).
    std::int64_t RangeFrom = -1;
    std::string RangeValidator;
    bool KeepErrorBodies = true;
    std::string StatusLine;
    std::int64_t ContentLength = -1; // -1: none in the reply
    std::string ReplyETag;
    std::string ReplyLastModified;
    std::int64_t ReplyRangeStart = -1;
    std::int64_t ReplyRangeEnd = -1;
    std::int64_t ReplyRangeTotal = -1; // -1: none, or "*"
    std::string ReplyRetryAfter;       // the reply's Retry-After, as sent
    bool BodyAppended = false;
    std::string ProxyAuthorization;
    // The most body bytes a reply captured into a string may have; -1:
    // no limit.
    std::int64_t BodyLimit = -1;

    void Abort() override;

    virtual void DoRequest();
    virtual void ParseURL();
    virtual void ComposeRequest();
    virtual void ReadReplyHeader();
    virtual void SendRequest();
    virtual void Options(const std::string& url);
    virtual void Get(const std::string& url);
    virtual void Post(const std::string& url, const std::string& data);
    virtual void Put(const std::string& url, const std::string& data);
    virtual void Head(const std::string& url);
    virtual void Patch(const std::string& url, const std::string& data);
    virtual void Delete(const std::string& url);
    virtual void Trace(const std::string& url, const std::string& data);
    virtual void Copy(const std::string& url, const std::string& value);
    virtual void Move(const std::string& url, const std::string& value);
    virtual void Link(const std::string& url, const std::string& value);
    virtual void Unlink(const std::string& url, const std::string& value);
    virtual void Custom(const std::string& url, const std::string& data);

    // The absolute address of the current request ("http://h:8080/d/f
    // zip?q"), as ParseURL made it: what a Location is resolved against and
    // what a proxy is asked for.
    const std::string& Address() const { return address_; }

private:
    static constexpr std::size_t MaxCookies = 64;
    struct TCookie {
        std::string host; // lower case
        std::string name;
        std::string value;
    };
    void Run(CmdType command, const std::string& url);
    // The body after the header, as the reply calls for it.
    void CaptureBody();
    // The fields the request cycle itself needs (location, cookie,
    // framing, validators, range), once the header is complete.
    void ReadFields();
    // The cookies a redirect reply sets, for its host.
    void KeepCookies();
    // "https://host:port" of the current request, host in lower case.
    std::string Origin() const;
    // Host, with the port when it is not the scheme's default.
    std::string HostField() const;
    // CONNECT through the proxy, then TLS inside the tunnel.
    void OpenTunnel();
    // Through a proxy, in its form (not inside a tunnel).
    bool ProxyForm() const { return !Proxy.empty() && !Secure; }
    // Follows the reply's location; false when the reply ends the cycle.
    static bool IsFollowed(int replyNumber);

    THttpReply reply_;
    bool chunked_ = false;
    std::string address_;
    // Of the request the caller asked for, while its redirects are followed.
    bool following_ = false;
    std::string firstHost_;
    // The credentials of each origin in this cycle: the caller's for the
    // first one, those of a URL for its own.
    struct TCredentials {
        std::string origin;
        std::string user;
        std::string password;
    };
    std::vector<TCredentials> credentials_;
    // "user:password@" of the current URL.
    bool urlCredentials_ = false;
    std::string urlUser_;
    std::string urlPassword_;
    std::vector<TCookie> cookies_;
};
