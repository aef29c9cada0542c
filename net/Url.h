// Addresses as RFC 3986 reads them: what the HTTP component needs to follow
// a redirect and to put an address on the wire, and the name under which
// the program saves what an address names. Pure functions on bytes (UTF-8
// where text); no I/O.
//
//  - SplitReference: the five parts of a URI reference (RFC 3986 appendix
//    B). A scheme must be one (a letter, then letters, digits, "+", "-",
//    "."); text before a colon that is not one leaves the reference
//    without a scheme ("a b:c" is a relative path).
//  - ResolveReference: a reference (a redirect's Location) against the
//    address it came from, as RFC 3986 section 5.2 resolves it (strictly:
//    a reference with a scheme is absolute), with dot segments removed
//    and the fragment dropped. The scheme comes out in lower case.
//  - EncodeRequestTarget: the bytes that may not stand in a request-target
//    percent-encoded ("%20"; upper-case digits): controls, the blank,
//    DEL, every byte of 0x80 and above (so a non-ASCII character goes as
//    the %XX of its UTF-8 bytes, as browsers and curl send it), '"', "<",
//    ">", "`", "{", "}", and a "%" that does not begin a %XX. An existing
//    %XX stays as it is, so encoding twice changes nothing.
//  - PercentDecode: every %XX (either case) to its byte; anything else,
//    a "%" without two hexadecimal digits too, stays.
//  - TargetFileName: the name a download of the address is saved under,
//    as curl -O and browsers take it: the last segment of the address's
//    path, without query and fragment, percent-decoded ("http://h/d/my%20
//    app.zip?x=1" gives "my app.zip", "%E3%82%A2.zip" gives "ア.zip"). An
//    address without any "/" in its path is its own last segment.
//  - IsPlainFileName: whether a name can be a file of the working folder
//    and nothing else: not empty, not "." or "..", no "/" and no NUL. A
//    name from TargetFileName that is not plain must not be used.
#pragma once
#include <string>
#include <string_view>

struct TUrlParts {
    std::string Scheme;
    std::string Authority;
    std::string Path;
    std::string Query;
    std::string Fragment;
    bool HasScheme = false;
    bool HasAuthority = false;
    bool HasQuery = false;
    bool HasFragment = false;
};

TUrlParts SplitReference(std::string_view reference);
// The reference the parts make (RFC 3986 section 5.3).
std::string JoinReference(const TUrlParts& parts);
// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view path);
std::string ResolveReference(std::string_view base, std::string_view reference);
// Whether text is a scheme's name (RFC 3986 section 3.1).
bool IsSchemeName(std::string_view text);

std::string EncodeRequestTarget(std::string_view target);
std::string PercentDecode(std::string_view text);

std::string TargetFileName(std::string_view address);
bool IsPlainFileName(std::string_view name);
