#include "net/Url.h"

#include "runtime/SysUtils.h"

namespace {

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsEscape(std::string_view text, std::size_t at)
{
    return at + 2 < text.size() && text[at] == '%' && HexDigitValue(text[at + 1]) >= 0 && HexDigitValue(text[at + 2]) >= 0;
}

// The bytes a request-target may not carry as they are.
bool mustEncode(unsigned char c)
{
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' || c == '}';
}

// RFC 3986 section 5.2.3.
std::string merge(const TUrlParts& base, std::string_view path)
{
    std::string merged;
    if (base.HasAuthority && base.Path.empty()) {
        merged.assign(1, '/');
    } else if (const std::size_t slash = base.Path.rfind('/'); slash != std::string::npos) {
        merged.assign(base.Path, 0, slash + 1);
    }
    merged.append(path);
    return merged;
}

} // namespace

bool IsSchemeName(std::string_view text)
{
    if (text.empty() || !isAlpha(text[0]))
        return false;
    for (char c : text)
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return false;
    return true;
}

TUrlParts SplitReference(std::string_view reference)
{
    TUrlParts parts;
    std::string_view rest = reference;
    if (const std::size_t colon = rest.find(':');
        colon != std::string_view::npos && colon < rest.find_first_of("/?#") && IsSchemeName(rest.substr(0, colon))) {
        parts.HasScheme = true;
        parts.Scheme = rest.substr(0, colon);
        rest.remove_prefix(colon + 1);
    }
    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        parts.HasFragment = true;
        parts.Fragment = rest.substr(hash + 1);
        rest = rest.substr(0, hash);
    }
    if (const std::size_t question = rest.find('?'); question != std::string_view::npos) {
        parts.HasQuery = true;
        parts.Query = rest.substr(question + 1);
        rest = rest.substr(0, question);
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        parts.HasAuthority = true;
        parts.Authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    parts.Path = rest;
    return parts;
}

std::string JoinReference(const TUrlParts& parts)
{
    std::string out;
    if (parts.HasScheme)
        out += parts.Scheme + ":";
    if (parts.HasAuthority)
        out += "//" + parts.Authority;
    out += parts.Path;
    if (parts.HasQuery)
        out += "?" + parts.Query;
    if (parts.HasFragment)
        out += "#" + parts.Fragment;
    return out;
}

std::string RemoveDotSegments(std::string_view path)
{
    std::string output;
    std::string_view input = path;
    auto dropLastSegment = [&output] {
        const std::size_t slash = output.rfind('/');
        output.erase(slash == std::string::npos ? 0 : slash);
    };
    while (!input.empty()) {
        if (input.substr(0, 3) == "../") {
            input.remove_prefix(3);
        } else if (input.substr(0, 2) == "./") {
            input.remove_prefix(2);
        } else if (input.substr(0, 3) == "/./") {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.substr(0, 4) == "/../") {
            input.remove_prefix(3);
            dropLastSegment();
        } else if (input == "/..") {
            input = "/";
            dropLastSegment();
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            // The first segment, with its leading "/", up to the next "/".
            const std::size_t next = input.find('/', 1);
            const std::size_t length = next == std::string_view::npos ? input.size() : next;
            output.append(input.substr(0, length));
            input.remove_prefix(length);
        }
    }
    return output;
}

std::string ResolveReference(std::string_view base, std::string_view reference)
{
    const TUrlParts b = SplitReference(base);
    const TUrlParts r = SplitReference(reference);
    TUrlParts t;
    if (r.HasScheme) {
        t = r;
        t.Path = RemoveDotSegments(r.Path);
    } else {
        if (r.HasAuthority) {
            t.HasAuthority = true;
            t.Authority = r.Authority;
            t.Path = RemoveDotSegments(r.Path);
            t.HasQuery = r.HasQuery;
            t.Query = r.Query;
        } else {
            if (r.Path.empty()) {
                t.Path = b.Path;
                t.HasQuery = r.HasQuery || b.HasQuery;
                t.Query = r.HasQuery ? r.Query : b.Query;
            } else {
                t.Path = RemoveDotSegments(r.Path[0] == '/' ? std::string_view(r.Path) : merge(b, r.Path));
                t.HasQuery = r.HasQuery;
                t.Query = r.Query;
            }
            t.HasAuthority = b.HasAuthority;
            t.Authority = b.Authority;
        }
        t.HasScheme = b.HasScheme;
        t.Scheme = b.Scheme;
    }
    for (char& c : t.Scheme)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    t.HasFragment = false;
    t.Fragment.clear();
    return JoinReference(t);
}

std::string EncodeRequestTarget(std::string_view target)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (std::size_t i = 0; i < target.size(); ++i) {
        const auto c = static_cast<unsigned char>(target[i]);
        if (mustEncode(c) || (c == '%' && !startsEscape(target, i))) {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (startsEscape(text, i)) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string TargetFileName(std::string_view address)
{
    const TUrlParts parts = SplitReference(address);
    const std::size_t slash = parts.Path.rfind('/');
    return PercentDecode(slash == std::string::npos ? std::string_view(parts.Path)
                                                    : std::string_view(parts.Path).substr(slash + 1));
}

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}
