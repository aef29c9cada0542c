#include "net/ProxyConfig.h"

#include "net/NMUUE.h"
#include "net/Url.h"
#include "runtime/SysUtils.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
    return text;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

bool allDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The parts of "scheme://user@host:port/path" that matter here. The
// authority ends at the first "/", "?" or "#"; the user part at its last
// "@".
struct UrlParts {
    bool hasScheme = false;
    std::string scheme; // as written
    std::string userInfo;
    bool hasUserInfo = false;
    std::string hostPort;
};

UrlParts splitUrl(const std::string& url)
{
    UrlParts parts;
    size_t start = 0;
    const size_t sep = url.find("://");
    if (sep != std::string::npos && url.find_first_of("/?#@") >= sep) {
        parts.hasScheme = true;
        parts.scheme = url.substr(0, sep);
        start = sep + 3;
    }
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    std::string authority = url.substr(start, end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        parts.hasUserInfo = true;
        parts.userInfo = authority.substr(0, at);
        authority.erase(0, at + 1);
    }
    parts.hostPort = authority;
    return parts;
}

bool percentDecode(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 1 < text.size() ? HexDigitValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool validHostName(const std::string& host)
{
    return std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return (c < 0x80 && std::isalnum(c)) || c == '-' || c == '.' || c == '_';
    });
}

// An IP address in binary, for comparisons.
struct Address {
    int family = 0; // 0: not an address
    std::array<unsigned char, 16> bytes{};
    int bits() const { return family == AF_INET ? 32 : 128; }
};

Address parseAddress(std::string text)
{
    Address a;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (::inet_pton(AF_INET, text.c_str(), a.bytes.data()) == 1)
        a.family = AF_INET;
    else if (::inet_pton(AF_INET6, text.c_str(), a.bytes.data()) == 1)
        a.family = AF_INET6;
    return a;
}

bool samePrefix(const Address& a, const Address& b, int bits)
{
    if (a.family != b.family || a.family == 0)
        return false;
    if (bits <= 0 || bits > a.bits())
        bits = a.bits();
    const int whole = bits / 8;
    if (std::memcmp(a.bytes.data(), b.bytes.data(), static_cast<size_t>(whole)) != 0)
        return false;
    const int rest = bits % 8;
    if (rest == 0)
        return true;
    const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
    return (a.bytes[static_cast<size_t>(whole)] & mask) == (b.bytes[static_cast<size_t>(whole)] & mask);
}

// The host part of a no_proxy entry or a target: brackets and ":port"
// removed. An unbracketed text with more than one ":" is an IPv6 address
// and keeps them all.
std::string withoutPort(const std::string& text)
{
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        return close == std::string::npos ? text : text.substr(1, close - 1);
    }
    const size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos)
        return text.substr(0, colon);
    return text;
}

bool entryMatches(std::string entry, const std::string& host, const Address& hostAddress)
{
    if (entry == "*")
        return true;
    int prefix = 0;
    const size_t slash = entry.find('/');
    std::string prefixText;
    if (slash != std::string::npos) {
        prefixText = entry.substr(slash + 1);
        entry.erase(slash);
    }
    entry = withoutPort(entry);
    if (hostAddress.family != 0) {
        if (!prefixText.empty()) {
            if (!allDigits(prefixText) || prefixText.size() > 3)
                return false;
            prefix = std::atoi(prefixText.c_str());
        }
        return samePrefix(parseAddress(entry), hostAddress, prefix);
    }
    if (!prefixText.empty())
        return false;
    if (entry.rfind("*.", 0) == 0)
        entry.erase(0, 2);
    else if (!entry.empty() && entry[0] == '.')
        entry.erase(0, 1);
    if (!entry.empty() && entry.back() == '.')
        entry.pop_back();
    if (entry.empty())
        return false;
    entry = lower(entry);
    if (entry == host)
        return true;
    return host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
           host[host.size() - entry.size() - 1] == '.';
}

TProxyChoice failed(std::string message)
{
    TProxyChoice choice;
    choice.Source = psUrl;
    choice.Error = std::move(message);
    return choice;
}

std::optional<std::string> readSet(const TProxyConfig::GetEnv& getenv, const std::string& name)
{
    auto value = getenv(name);
    if (value && trimmed(*value).empty())
        return std::nullopt;
    return value;
}

} // namespace

// ---------------------------------------------------------------- TProxyChoice

std::string TProxyChoice::HostText() const
{
    return Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
}

std::string TProxyChoice::Describe() const
{
    std::string text = UseProxy ? HostText() + ":" + std::to_string(Port) : "direct";
    if (!Variable.empty())
        text += " (" + Variable + ")";
    return text;
}

// ---------------------------------------------------------------- TProxyConfig

TProxyConfig::GetEnv TProxyConfig::SystemEnvironment()
{
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (!value)
            return std::nullopt;
        return std::string(value);
    };
}

TProxyChoice TProxyConfig::ParseProxyUrl(const std::string& text)
{
    const std::string url = trimmed(text);
    const UrlParts parts = splitUrl(url);
    if (parts.hasScheme) {
        if (!IsSchemeName(parts.scheme))
            return failed("プロキシの指定 " + quoted(url) + " を解釈できません（方式の名前が正しくありません）");
        const std::string scheme = lower(parts.scheme);
        if (scheme != "http")
            return failed("プロキシの方式 " + quoted(scheme) + " には対応していません（http のプロキシだけが使えます）");
    }

    std::string host, port;
    const std::string& hp = parts.hostPort;
    if (!hp.empty() && hp[0] == '[') {
        const size_t close = hp.find(']');
        if (close == std::string::npos)
            return failed("プロキシの指定 " + quoted(url) + " を解釈できません（\"[\" に対応する \"]\" がありません）");
        host = hp.substr(1, close - 1);
        const std::string after = hp.substr(close + 1);
        if (!after.empty() && after[0] != ':')
            return failed("プロキシの指定 " + quoted(url) + " を解釈できません（\"]\" の後にはポートしか書けません）");
        if (!after.empty())
            port = after.substr(1);
        if (host.empty())
            return failed("プロキシの指定 " + quoted(url) + " にホスト名がありません");
        if (parseAddress(host).family != AF_INET6)
            return failed("プロキシのアドレス " + quoted("[" + host + "]") + " は IPv6 アドレスではありません");
    } else {
        const size_t colon = hp.find(':');
        if (colon != std::string::npos && hp.find(':', colon + 1) != std::string::npos)
            return failed("プロキシの指定 " + quoted(url) +
                          " を解釈できません（IPv6 アドレスは \"[::1]:8080\" のように [ ] で囲んでください）");
        host = hp.substr(0, colon);
        if (colon != std::string::npos)
            port = hp.substr(colon + 1);
        if (host.empty())
            return failed("プロキシの指定 " + quoted(url) + " にホスト名がありません");
        if (!validHostName(host))
            return failed("プロキシのホスト名 " + quoted(host) + " に使えない文字があります");
    }

    TProxyChoice choice;
    choice.Source = psUrl;
    choice.Port = 80;
    if (!port.empty()) {
        if (!allDigits(port) || port.size() > 5 || std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535)
            return failed("プロキシのポート " + quoted(port) + " は 1 から 65535 までの数ではありません");
        choice.Port = std::atoi(port.c_str());
    }
    if (parts.hasUserInfo) {
        const size_t colon = parts.userInfo.find(':');
        const bool userOk = percentDecode(parts.userInfo.substr(0, colon), choice.User);
        const bool passwordOk =
            colon == std::string::npos || percentDecode(parts.userInfo.substr(colon + 1), choice.Password);
        if (!userOk || !passwordOk)
            return failed("プロキシの利用者名かパスワードの \"%\" の後が 16 進数 2 桁になっていません");
    }
    choice.Host = host;
    choice.UseProxy = true;
    return choice;
}

TProxyChoice TProxyConfig::FromSetting(const TProxySetting& setting)
{
    if (!setting.Enabled)
        return {};
    TProxyChoice choice;
    const std::string host = trimmed(setting.Host);
    if (setting.Port < 1 || setting.Port > 65535) {
        choice.Error = "プロキシのポートは 1 から 65535 までの数で指定してください";
    } else if (host.empty()) {
        choice.Error = "プロキシサーバーが指定されていません";
    } else {
        // "user:password@" may come first; an IPv6 address after it may be
        // typed with or without its brackets.
        const size_t at = host.rfind('@');
        const std::string credentials = at == std::string::npos ? std::string() : host.substr(0, at + 1);
        const std::string address = at == std::string::npos ? host : host.substr(at + 1);
        const bool bareIPv6 = !address.empty() && address[0] != '[' && address.find(':') != address.rfind(':');
        choice = ParseProxyUrl(credentials + (bareIPv6 ? "[" + address + "]" : address) + ":" +
                               std::to_string(setting.Port));
    }
    choice.Source = psWindow;
    return choice;
}

TProxyChoice TProxyConfig::FromEnvironment(const std::string& targetUrl, const GetEnv& getenv)
{
    const std::string scheme = TargetScheme(targetUrl);
    std::vector<std::string> names{scheme + "_proxy"};
    if (scheme != "http")
        names.push_back(upper(scheme) + "_PROXY");
    names.push_back("all_proxy");
    names.push_back("ALL_PROXY");
    std::string variable;
    std::optional<std::string> value;
    for (const auto& name : names)
        if ((value = readSet(getenv, name))) {
            variable = name;
            break;
        }
    if (!value)
        return {};

    for (const char* name : {"no_proxy", "NO_PROXY"})
        if (const auto noProxy = getenv(name)) {
            if (NoProxyMatches(*noProxy, TargetHost(targetUrl))) {
                TProxyChoice direct;
                direct.Source = psNoProxy;
                direct.Variable = name;
                return direct;
            }
            break;
        }

    TProxyChoice choice = ParseProxyUrl(*value);
    choice.Source = psEnvironment;
    choice.Variable = variable;
    if (!choice.Ok())
        choice.Error = "環境変数 " + variable + ": " + choice.Error;
    return choice;
}

TProxyChoice TProxyConfig::Choose(const TProxySetting& setting, const std::string& targetUrl, const GetEnv& getenv)
{
    if (setting.Enabled)
        return FromSetting(setting);
    return FromEnvironment(targetUrl, getenv);
}

bool TProxyConfig::NoProxyMatches(const std::string& noProxy, const std::string& hostText)
{
    std::string host = lower(withoutPort(hostText));
    const Address hostAddress = parseAddress(host);
    if (hostAddress.family == 0 && !host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty())
        return false;
    size_t i = 0;
    while (i < noProxy.size()) {
        while (i < noProxy.size() && (blank(noProxy[i]) || noProxy[i] == ','))
            ++i;
        const size_t start = i;
        while (i < noProxy.size() && !blank(noProxy[i]) && noProxy[i] != ',')
            ++i;
        if (i > start && entryMatches(noProxy.substr(start, i - start), host, hostAddress))
            return true;
    }
    return false;
}

std::string TProxyConfig::TargetScheme(const std::string& url)
{
    const UrlParts parts = splitUrl(trimmed(url));
    return parts.hasScheme ? lower(parts.scheme) : "http";
}

std::string TProxyConfig::TargetHost(const std::string& url)
{
    return withoutPort(splitUrl(trimmed(url)).hostPort);
}

std::string TProxyConfig::ProxyAuthorization(const TProxyChoice& choice)
{
    if (!choice.HasCredentials())
        return {};
    std::string encoded = TNMUUProcessor::EncodeText(choice.User + ":" + choice.Password, uuMime);
    encoded.erase(std::remove_if(encoded.begin(), encoded.end(), [](char c) { return c == '\r' || c == '\n'; }),
                  encoded.end());
    return "Basic " + encoded;
}
