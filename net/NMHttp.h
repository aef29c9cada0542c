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
//  - Path, ReplyLocation and ReplyCookie are kept whole (no 256-character
//    cut), so a long address or redirect target is requested as given.
//  - A redirect to a bare file name (a Location without "/") stays on the
//    current host and port; the port is written into the new URL when it is
//    not 80, so a server on another port is not left for port 80.
//  - A reply number that does not fit 16 bits counts as no number (0).
//  - An Authorization value is sent on one line: the line breaks the Base64
//    encoder puts after every 60 characters are removed.
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
//  - The body ends where the reply says: a Content-Length (read as a field
//    name followed by a colon, blanks allowed around the value) makes the
//    capture stop after that many bytes, and we close the connection, so a
//    peer that keeps it open (a keep-alive proxy) does not hold the request
//    until the time-out; a body that ends before raises ESockError
//    "Transfer closed with outstanding read data remaining (...)". A value
//    that is not a decimal number of at most 18 digits, or two that differ,
//    fail with ESockError "Invalid Content-Length". Without a
//    Content-Length the peer's close still ends the body. A HEAD reply, a
//    204 and a 304 have no body: nothing is read after their header (in
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
//    "Range: bytes=N-" and, with RangeValidator, "If-Range: VALIDATOR".
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
#include "net/Psock.h"

#include <cstdint>
#include <functional>
#include <string>

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

private:
    void Run(CmdType command, const std::string& url);
    // The body after the header, as the reply calls for it.
    void CaptureBody();
    // The fields the request cycle itself needs (length, validators, range).
    void ReadField(const std::string& line);
    // CONNECT through the proxy, then TLS inside the tunnel.
    void OpenTunnel();
    // Through a proxy, in its form (not inside a tunnel).
    bool ProxyForm() const { return !Proxy.empty() && !Secure; }
    // Follows the reply's location; false when the reply ends the cycle.
    static bool IsFollowed(int replyNumber);
};
