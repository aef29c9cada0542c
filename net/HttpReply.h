// THttpReply: the reader of a reply's header as an HTTP/1.1 client reads it
// (RFC 9112), line by line, without any I/O: the HTTP component feeds it
// the lines its socket reads, the fuzz target feeds it bytes alone. The
// body's framing follows from what it read (BodyFraming).
//
// Lines are given as read, with their line end (LF or CR LF).
//  - The status line: "HTTP/1." DIGIT, blanks, exactly three digits (100 to
//    999), then the end of the line or a blank and a reason phrase of any
//    text. Anything else is a malformed reply; so is 101 (Switching
//    Protocols), which a client that asked for no upgrade cannot follow.
//  - Interim replies (1xx but 101) are read up to their empty line and
//    skipped: Feed answers Interim, and the next line is a status line
//    again.
//  - Field lines: a name, a colon, the value; the name is matched in any
//    case, blanks between it and the colon and blanks or tabs around the
//    value do not count. A line whose name is not a token, or that has no
//    colon, is no field and is ignored (as curl ignores it).
//  - A line that starts with a blank or a tab continues the field before
//    it (obs-fold): it joins that field's value after one blank and is
//    never a field of its own; right after the status line it makes the
//    reply malformed.
//  - A NUL, or a CR that does not end its line, anywhere in the header
//    makes the reply malformed.
// Feed answers More, Interim, Complete (after the empty line that ends the
// final reply's header) or Failed, with Error(): "Malformed reply (WHY)"
// or "Unexpected 101 reply (switching protocols)".
//
// BodyFraming, once Complete: a Transfer-Encoding whose codings are
// "chunked" alone (in any case; "identity" and empty list elements do not
// count) frames the body in chunks, whatever Content-Length says; any
// other coding is an error ("Unsupported transfer coding: gzip").
// Otherwise the Content-Length fields give the length: each may hold a
// comma-separated list, and all values together must be one and the same
// decimal number of at most 18 digits, else "Invalid Content-Length".
// Without either the body ends when the server closes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class THttpReply {
public:
    enum TFeed { More, Interim, Complete, Failed };
    enum TFraming { ByClose, ByLength, Chunked };
    struct TField {
        std::string Name;
        std::string Value;
    };
    struct TBodyFraming {
        TFraming Kind = ByClose;
        std::int64_t Length = -1;
        std::string Error; // not empty: the framing cannot be read
    };

    TFeed Feed(std::string_view line);

    int Code() const { return code_; }
    // The status line of the final reply as received.
    const std::string& StatusLine() const { return statusLine_; }
    const std::vector<TField>& Fields() const { return fields_; }
    // The values of the fields of that name, in order.
    std::vector<std::string> Values(std::string_view name) const;
    // The value of the last field of that name; empty when there is none.
    std::string Last(std::string_view name) const;
    TBodyFraming BodyFraming() const;
    const std::string& Error() const { return error_; }

private:
    TFeed Fail(const std::string& error);
    bool ReadStatusLine(std::string_view text);

    bool haveStatus_ = false;
    bool lastLineIgnored_ = false;
    int code_ = 0;
    std::string statusLine_;
    std::vector<TField> fields_;
    std::string error_;
};
