// URL parsing and request composition of the HTTP component, the address
// functions behind them, and the encoders and the header-line list they
// use: ParseURL and ComposeRequest on an arbitrary address and header
// fields, the URL as a reference resolved against an address, the name a
// download of it is saved under, TNMURL's form encoding, TNMUUProcessor's
// Base64 and uuencode, TExStringList's field lines.
//
// Input: one byte of switches (low four bits: the command, 0 to 12; bit 4:
// through a proxy; bit 5: a port set beforehand), then text fields separated
// by LF: the URL, the proxy host, User-Agent, From, Cookie, Referer, user,
// password, the send data, the extra header value; the fields after them are
// lines for the field list.
//
// Checked: a parsed URL has a path that starts with "/"; no request line
// holds a NUL, CR or LF, and the request-target nothing a request-target
// may not hold (controls, blanks, bytes above 0x7E); the request starts
// with the command's request line and has exactly one Host line for a
// non-empty host, with the port when it is not the scheme's default;
// credentials travel on one Authorization line that decodes to
// "user:password" (the caller's, or those of the URL); the URL resolved as
// a Location against the parsed address (or a fixed one) has no fragment,
// keeps a scheme and resolves to itself again; encoding a request-target
// is stable and decodes to what the target decodes to; a name that passes
// IsPlainFileName stays in the folder it is put into; the form encoding and
// both line encodings decode back to their input; a field found in a
// sorted list is the first line of that name.
#include "fuzz/FuzzApp.h"
#include "fuzz/FuzzSupport.h"
#include "net/NMHttp.h"
#include "net/NMURL.h"
#include "net/NMUUE.h"
#include "net/Url.h"
#include "runtime/SysUtils.h"

#include <filesystem>
#include <string>

namespace {

const char* const requestWords[] = {"GET ",    "OPTIONS ", "HEAD ",  "POST ",   "PUT ",    "PATCH ", "COPY ",
                                    "MOVE ",   "DELETE ", "LINK ",  "UNLINK ", "TRACE "};

std::string fieldName(const std::string& line)
{
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

bool namesField(const std::string& line, const std::string& name)
{
    return line.find(':') != std::string::npos && AnsiCompareText(fieldName(line), name) == 0;
}

bool decodeBase64(const std::string& text, std::string& out)
{
    const auto bytes = DecodeBase64(text);
    if (bytes)
        out = *bytes;
    return bytes.has_value();
}

// The lines of an encoder's output, each of which must end in CR LF.
bool splitLines(const std::string& text, std::vector<std::string>& lines)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            return false;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return true;
}

bool decodeMimeLines(const std::string& text, std::string& out)
{
    std::vector<std::string> lines;
    if (!splitLines(text, lines))
        return false;
    out.clear();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string part;
        if (lines[i].size() > 60 || (i + 1 < lines.size() && lines[i].size() != 60) || !decodeBase64(lines[i], part))
            return false;
        out += part;
    }
    return true;
}

bool decodeUuLines(const std::string& text, std::string& out)
{
    std::vector<std::string> lines;
    if (!splitLines(text, lines) || lines.empty() || lines.back() != "`")
        return false;
    out.clear();
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty())
            return false;
        auto value = [](char c) { return c == '`' ? 0 : c - 32; };
        const int length = value(line[0]);
        if (length <= 0 || length > 45 || line.size() != 1 + static_cast<std::size_t>((length * 4 + 2) / 3))
            return false;
        unsigned bits = 0;
        int count = 0, produced = 0;
        for (std::size_t k = 1; k < line.size(); ++k) {
            const int v = value(line[k]);
            if (v < 0 || v > 63)
                return false;
            bits = (bits << 6) | static_cast<unsigned>(v);
            count += 6;
            if (count >= 8 && produced < length) {
                count -= 8;
                out += static_cast<char>((bits >> count) & 0xFF);
                ++produced;
            }
        }
        if (produced != length)
            return false;
    }
    return true;
}

bool decodeForm(const std::string& text, std::string& out)
{
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int hi = hex(text[i + 1]), lo = hex(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            out += c;
        } else {
            return false;
        }
    }
    return true;
}

TNMHTTP& component()
{
    static TNMHTTP* http = new TNMHTTP; // one for the campaign: making one opens a socket
    return *http;
}

} // namespace

extern "C" int FUZZ_INITIALIZE(int*, char***)
{
    fuzz::EnsureApplication();
    component();
    return 0;
}

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    fuzz::EnsureApplication();
    const std::uint8_t flags = data[0];
    const auto fields = fuzz::Split(fuzz::AsText(data + 1, size - 1), "\n", 64);
    auto field = [&](std::size_t i) { return i < fields.size() ? std::string(fields[i]) : std::string(); };

    TNMHTTP& http = component();
    http.Command = static_cast<CmdType>((flags & 15) % 13);
    http.URL = field(0);
    http.Host.clear();
    http.Port = (flags & 32) ? 8080 : 0;
    http.Proxy = (flags & 16) ? (field(1).empty() ? std::string("proxy") : field(1)) : std::string();
    http.ProxyPort = 3128;
    http.HeaderInfo.LocalProgram = field(2);
    http.HeaderInfo.LocalMailAddress = field(3);
    http.HeaderInfo.Cookie = field(4);
    http.HeaderInfo.Referer = field(5);
    http.HeaderInfo.UserId = field(6);
    http.HeaderInfo.Password = field(7);
    http.SendData = field(8);
    http.ExtraHeaderValue = field(9);
    http.OutputFileMode = false;

    bool parsed = false;
    try {
        http.ParseURL();
        parsed = true;
    } catch (const Exception&) {
        // "Empty URL", https, a port that is no number: the caller's to handle.
    }
    if (parsed) {
        FUZZ_CHECK(!http.Path.empty() && http.Path[0] == '/', "path " + http.Path);
        try {
            http.ComposeRequest();
        } catch (const Exception&) {
            // A field that cannot be sent.
            parsed = false;
        }
    }
    if (parsed) {
        const TExStringList& lines = http.RequestLines;
        for (const auto& line : lines)
            FUZZ_CHECK(line.find_first_of(std::string("\0\r\n", 3)) == std::string::npos, line);
        if (http.Command < cmdCustom) {
            const std::string& first = lines[0];
            const std::string word = requestWords[http.Command];
            FUZZ_CHECK(first.compare(0, word.size(), word) == 0 && first.size() >= word.size() + 9 &&
                           first.compare(first.size() - 9, 9, " HTTP/1.0") == 0,
                       "request line " + first);
            const std::string target = first.substr(word.size(), first.size() - word.size() - 9);
            for (const char c : target)
                FUZZ_CHECK(c > ' ' && c < 0x7F, "request-target " + target);
        }
        int hosts = 0;
        for (const auto& line : lines)
            if (namesField(line, "Host"))
                ++hosts;
        FUZZ_CHECK(hosts == (http.Host.empty() ? 0 : 1), lines.Text());
        if (!http.Host.empty()) {
            const bool defaultPort = http.Port == (http.Secure ? 443 : 80);
            FUZZ_CHECK(lines[lines.IndexOfField("Host")] ==
                           "Host: " + http.Host + (defaultPort ? "" : ":" + std::to_string(http.Port)),
                       lines.Text());
        }
        // The URL's own credentials ("user:password@host") come before the caller's.
        const bool urlCredentials = http.URL.find('@') != std::string::npos;
        const int auth = lines.IndexOfField("Authorization");
        if (auth >= 0) {
            const std::string& line = lines[auth];
            const std::string prefix = "Authorization: Basic ";
            std::string decoded;
            FUZZ_CHECK(line.compare(0, prefix.size(), prefix) == 0 && decodeBase64(line.substr(prefix.size()), decoded) &&
                           (urlCredentials || decoded == http.HeaderInfo.UserId + ":" + http.HeaderInfo.Password),
                       line);
        } else {
            FUZZ_CHECK(urlCredentials || http.HeaderInfo.UserId.empty() || http.HeaderInfo.Password.empty(), lines.Text());
        }
    }

    // The URL as a Location of the address just parsed.
    const std::string base = parsed ? http.Address() : std::string("http://h:8080/d/f?q");
    const std::string resolved = ResolveReference(base, http.URL);
    FUZZ_CHECK(resolved.find('#') == std::string::npos, resolved);
    FUZZ_CHECK(SplitReference(resolved).HasScheme, resolved);
    FUZZ_CHECK(ResolveReference(base, resolved) == resolved, base + " + " + http.URL + " = " + resolved);
    // What goes on the wire.
    const std::string target = EncodeRequestTarget(http.URL);
    FUZZ_CHECK(EncodeRequestTarget(target) == target, target);
    FUZZ_CHECK(PercentDecode(target) == PercentDecode(http.URL), target);
    // The name: a plain one stays in its folder.
    const std::string name = TargetFileName(http.URL);
    if (IsPlainFileName(name)) {
        const std::filesystem::path folder = "/work/folder";
        FUZZ_CHECK((folder / name).lexically_normal().parent_path() == folder, name);
    }

    // The encoders on the send data.
    TNMURL form;
    form.InputString = http.SendData;
    std::string decoded;
    const std::string encoded = form.Encode();
    FUZZ_CHECK(decodeForm(encoded, decoded) && decoded == http.SendData, encoded);
    const std::string mime = TNMUUProcessor::EncodeText(http.SendData, uuMime);
    FUZZ_CHECK(decodeMimeLines(mime, decoded) && decoded == http.SendData, mime);
    const std::string uu = TNMUUProcessor::EncodeText(http.SendData, uuCode);
    FUZZ_CHECK(decodeUuLines(uu, decoded) && decoded == http.SendData, uu);

    // Field lines: set, delete, look up, unsorted and sorted.
    TExStringList list;
    for (std::size_t i = 10; i < fields.size(); ++i) {
        const std::string line(fields[i]);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && colon + 1 < line.size() && line[colon + 1] == '=')
            list.SetField(line.substr(0, colon), line.substr(colon + 2)); // "name:=value" sets, "name:=" deletes
        else
            list.Add(line);
    }
    auto firstNamed = [&](const TExStringList& l, const std::string& name) {
        for (int i = 0; i < l.Count(); ++i)
            if (namesField(l[i], name))
                return i;
        return -1;
    };
    std::vector<std::string> names = {"Host", "Cookie"};
    for (const auto& line : list)
        names.push_back(fieldName(line));
    for (const auto& name : names)
        FUZZ_CHECK(list.IndexOfField(name) == firstNamed(list, name), "field " + name + " in\n" + list.Text());
    list.Sort();
    list.Sorted = true;
    for (const auto& name : names)
        FUZZ_CHECK(list.IndexOfField(name) == firstNamed(list, name), "sorted, field " + name + " in\n" + list.Text());
    return 0;
}
