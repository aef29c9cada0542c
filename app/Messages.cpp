#include "app/Messages.h"

#include "app/Download.h"
#include "archive/ARCHIVES.h"

#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

const char* const TMessages::FailedStatus = "失敗しました";

namespace {

std::string seconds(int milliseconds) { return std::to_string((milliseconds + 999) / 1000) + " 秒"; }

std::string fileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// A socket's failure as the user reads it.
std::string socketReason(int number)
{
    switch (number) {
    case WSAECONNREFUSED: return "接続を受け付けていません";
    case WSAETIMEDOUT: return "応答がありません";
    case WSAECONNRESET: return "相手が接続を切りました";
    case WSAECONNABORTED: return "接続が途中で断たれました";
    case WSAESHUTDOWN:
    case WSAENOTCONN: return "接続が閉じられました";
    case WSAEACCES: return "この接続は許可されていません";
    case WSAEHOSTDOWN: return "相手のコンピューターが止まっています";
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAENETDOWN: return "ネットワークに届きません";
    case WSAEMFILE: return "開いている接続が多すぎます";
    default: return "通信に失敗しました";
    }
}

// "(N of M bytes received)" of the component's text: N and M, or -1.
void receivedOf(const std::string& text, std::int64_t& got, std::int64_t& of)
{
    got = of = -1;
    const std::size_t open = text.rfind('(');
    if (open == std::string::npos)
        return;
    long long n = 0, m = 0;
    if (std::sscanf(text.c_str() + open, "(%lld of %lld bytes received)", &n, &m) == 2) {
        got = n;
        of = m;
    }
}

// What arrived of the whole file: the kept bytes and this reply's.
std::string arrived(TNMHTTP& http, std::int64_t got, std::int64_t of)
{
    const std::int64_t start = http.ReplyNumber == 206 && http.RangeFrom > 0 ? http.RangeFrom : 0;
    if (got < 0)
        got = http.BytesRecvd;
    if (of < 0 && http.ContentLength >= 0)
        of = http.ContentLength;
    if (of >= 0)
        return TMessages::Bytes(start + of) + "のうち " + TMessages::Bytes(start + got) + "を受け取ったところで";
    return TMessages::Bytes(start + got) + "を受け取ったところで";
}

} // namespace

std::string TMessages::Bytes(std::int64_t count)
{
    std::string digits = std::to_string(count < 0 ? 0 : count);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits + " バイト";
}

std::string TMessages::ReplyText(int number)
{
    const char* words = nullptr;
    switch (number) {
    case 400: words = "要求が正しくありません"; break;
    case 401: words = "認証が必要です"; break;
    case 402: words = "支払いが必要です"; break;
    case 403: words = "アクセスが禁止されています"; break;
    case 404: words = "ファイルが見つかりません"; break;
    case 405: words = "この方法では取り出せません"; break;
    case 406: words = "受け取れる形式がありません"; break;
    case 407: words = "プロキシサーバーの認証が必要です"; break;
    case 408: words = "要求が時間切れになりました"; break;
    case 409: words = "サーバーの状態と矛盾しています"; break;
    case 410: words = "ファイルは削除されました"; break;
    case 411: words = "長さの指定が必要です"; break;
    case 412: words = "前提条件が満たされていません"; break;
    case 413: words = "要求が大きすぎます"; break;
    case 414: words = "アドレスが長すぎます"; break;
    case 415: words = "対応していない形式です"; break;
    case 416: words = "頼んだ範囲がファイルにありません"; break;
    case 421: words = "要求先のサーバーが違います"; break;
    case 425: words = "まだ受け付けられません"; break;
    case 426: words = "別の通信方式が必要です"; break;
    case 429: words = "要求が多すぎます"; break;
    case 431: words = "要求のヘッダーが大きすぎます"; break;
    case 451: words = "法的な理由で公開されていません"; break;
    case 500: words = "サーバー内部のエラーです"; break;
    case 501: words = "サーバーが対応していません"; break;
    case 502: words = "中継先のサーバーから正しい応答がありません"; break;
    case 503: words = "サーバーが一時的に利用できません"; break;
    case 504: words = "中継先のサーバーが応答しません"; break;
    case 505: words = "この HTTP の版に対応していません"; break;
    case 507: words = "サーバーの容量が足りません"; break;
    case 511: words = "ネットワークの認証が必要です"; break;
    default:
        if (number >= 400 && number < 500)
            words = "要求が受け付けられませんでした";
        else if (number >= 500 && number < 600)
            words = "サーバーのエラーです";
        else
            words = "思わぬ応答です";
        break;
    }
    return std::to_string(number) + " " + words;
}

std::string TMessages::ReplyLine(int number) { return "サーバーの応答: " + ReplyText(number); }

std::string TMessages::FileReason(int error)
{
    switch (error) {
    case ENOSPC: return "空き容量がありません";
    case EDQUOT: return "使える容量の上限に達しました";
    case EACCES:
    case EPERM: return "書き込みが許可されていません";
    case EROFS: return "読み取り専用の場所です";
    case EISDIR: return "同じ名前のフォルダーがあります";
    case EEXIST: return "同じ名前のものがあります";
    case ENOTDIR: return "フォルダーの場所に同じ名前のファイルがあります";
    case ELOOP: return "同じ名前のリンクがあるので書き込みません";
    case ENAMETOOLONG: return "名前が長すぎます";
    case ENOENT: return "フォルダーがありません";
    case EIO: return "ディスクの読み書きに失敗しました";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます";
    case EFBIG: return "ファイルが大きすぎます";
    case 0: return "書き込めません";
    default: return std::strerror(error);
    }
}

std::string TMessages::TlsReason(const std::string& reason)
{
    static const std::pair<const char*, const char*> reasons[] = {
        {"certificate has expired", "証明書の有効期限が切れています"},
        {"certificate is not yet valid", "証明書の有効期間がまだ始まっていません"},
        {"self-signed certificate in certificate chain", "信頼されていない発行元の証明書です"},
        {"self-signed certificate", "自己署名の証明書です"},
        {"self signed certificate in certificate chain", "信頼されていない発行元の証明書です"},
        {"self signed certificate", "自己署名の証明書です"},
        {"unable to get local issuer certificate", "証明書の発行元が信頼されていません"},
        {"unable to get issuer certificate", "証明書の発行元が信頼されていません"},
        {"unable to verify the first certificate", "証明書の発行元を確かめられません"},
        {"hostname mismatch", "証明書が別のサーバーの名前のものです"},
        {"Hostname mismatch", "証明書が別のサーバーの名前のものです"},
        {"IP address mismatch", "証明書が別のアドレスのものです"},
        {"certificate revoked", "証明書が失効しています"},
        {"certificate signature failure", "証明書の署名が正しくありません"},
        {"invalid CA certificate", "発行元の証明書が正しくありません"},
        {"certificate chain too long", "証明書の連なりが長すぎます"},
        {"unsupported certificate purpose", "この用途の証明書ではありません"},
        {"wrong version number", "サーバーが TLS で応答しません"},
        {"the server closed the connection", "サーバーが接続を閉じました"},
        {"unsupported protocol", "対応していない TLS の版です"},
        {"tlsv1 alert protocol version", "TLS の版が合いません"},
        {"sslv3 alert handshake failure", "暗号の方式が合いません"},
        {"tlsv1 unrecognized name", "サーバーがこの名前を知りません"},
        {"tlsv1 alert internal error", "サーバーの内部でエラーが起きました"},
    };
    for (const auto& [english, japanese] : reasons)
        if (reason == english)
            return japanese;
    return reason;
}

std::string TMessages::FailureText(std::exception_ptr error, TNMHTTP& http, const TContext& context)
{
    // The peer of the connection: the server, or the proxy on the way.
    const std::string peer = http.Proxy.empty() ? "サーバー " + http.Host : "プロキシサーバー " + http.Proxy;
    try {
        std::rethrow_exception(error);
    } catch (const EAbortError& e) {
        if (!http.TimedOut())
            return "ダウンロードを中断しました";
        if (e.Message() == "TLS handshake aborted")
            return peer + " が応答しません (" + seconds(context.connectLimit) + "待ちました)";
        return peer + " からの応答が途絶えました (" + seconds(context.idleLimit) + "の間、何も届きませんでした。" +
               arrived(http, -1, -1) + "止まりました)";
    } catch (const ESockError& e) {
        const std::string& text = e.Message();
        if (text.starts_with("Certificate verify failed: "))
            return "サーバーの身元を確認できませんでした: 証明書を確認できません (" + TlsReason(text.substr(27)) + ")";
        if (text.starts_with("TLS handshake failed: "))
            return "サーバーの身元を確認できませんでした: 安全な接続を始められません (" + TlsReason(text.substr(22)) +
                   ")";
        if (text.starts_with("Redirect from https to http refused: "))
            return "安全な接続から安全でない接続への転送は行いません (転送先 " + text.substr(37) + ")";
        if (text.starts_with("Proxy refused the tunnel: ")) {
            const std::string status = text.substr(26);
            int number = 0;
            const std::size_t blank = status.find(' ');
            if (blank != std::string::npos)
                number = std::atoi(status.c_str() + blank + 1);
            const std::string reply = number > 0 ? ReplyLine(number) : "サーバーの応答が正しくありません";
            if (number == 407)
                return "プロキシサーバーが認証を求めています (" + reply + ")";
            return "プロキシサーバーが接続を中継しません (" + reply + ")";
        }
        if (text == "Proxy closed the connection before the tunnel opened")
            return "プロキシサーバーが接続を閉じました (" + http.Proxy + ")";
        if (text == "Null Remote Address" || text == "Host Lookup Failed")
            return peer + " が見つかりません";
        if (text == "Host Lookup Timed Out")
            return peer + " を調べられませんでした (" + seconds(context.connectLimit) + "待ちました)";
        if (text == "Connection Failed") {
            const int number = http.ConnectErrorNo();
            if (number == WSAECONNREFUSED)
                return peer + " に接続を拒否されました (ポート " + std::to_string(http.Proxy.empty() ? http.Port : http.ProxyPort) +
                       " で受け付けていません)";
            if (number == WSAEHOSTUNREACH || number == WSAENETUNREACH || number == WSAENETDOWN)
                return "インターネットに接続されていません";
            if (number == WSAETIMEDOUT)
                return peer + " が応答しません (" + seconds(context.connectLimit) + "待ちました)";
            return peer + " に接続できません (" + socketReason(number) + ")";
        }
        if (text == "Connection Timed out" || text == "TLS handshake timed out")
            return peer + " が応答しません (" + seconds(context.connectLimit) + "待ちました)";
        if (text.starts_with("Transfer closed with outstanding read data remaining (reply header incomplete)"))
            return "ダウンロードが途中で切れました (" + peer + " が応答の途中で接続を閉じました)";
        if (text.starts_with("Transfer closed with outstanding read data remaining")) {
            std::int64_t got = -1, of = -1;
            receivedOf(text, got, of);
            return "ダウンロードが途中で切れました (" + arrived(http, got, of) + peer + " が接続を閉じました)";
        }
        if (text == "TLS connection ended without close_notify")
            return "ダウンロードが途中で切れました (" + arrived(http, -1, -1) +
                   "安全な接続が正しく終わらずに閉じられました)";
        if (text.starts_with("TLS error: "))
            return "安全な接続でエラーが起きました (" + TlsReason(text.substr(11)) + ")";
        if (text == "Invalid Content-Length")
            return "サーバーの応答が正しくありません (ファイルの長さの示し方が正しくありません)";
        if (text == "Partial reply does not match the request")
            return "サーバーの応答が正しくありません (頼んだ範囲とは違う部分が届きました)";
        if (text == "Header too long")
            return "サーバーの応答が正しくありません (応答のヘッダーが長すぎます)";
        if (text == "Line too long")
            return "サーバーの応答が正しくありません (応答の行が長すぎます)";
        if (text == "Reply body too long")
            return "サーバーの応答が正しくありません (応答が長すぎます)";
        if (text.starts_with("Malformed reply"))
            return "サーバーの応答が正しくありません (応答の形が HTTP の決まりに合いません)";
        if (text.starts_with("Unexpected 101 reply"))
            return "サーバーの応答が正しくありません (別の通信方式に切り替えようとしました)";
        if (text.starts_with("Invalid chunked encoding"))
            return "サーバーの応答が正しくありません (分割して送られた内容の区切りが正しくありません)";
        if (text.starts_with("Unsupported transfer coding: "))
            return "サーバーの応答が正しくありません (対応していない送り方です: " + text.substr(29) + ")";
        if (text.starts_with("Unsupported scheme: "))
            return "転送先のアドレスが http でも https でもないので、たどりません (" + text.substr(20) + ")";
        if (text.starts_with("Invalid port number: "))
            return "アドレスのポート番号が正しくありません (" + text.substr(21) + ")";
        if (http.LastErrorNo() >= 10000)
            return "接続が切れました (" + arrived(http, -1, -1) + socketReason(http.LastErrorNo()) + ")";
        return "ダウンロードできませんでした (サーバーとの通信に失敗しました)";
    } catch (const EVerifyError& e) {
        return e.Message();
    } catch (const EStreamError& e) {
        return "ファイル " + fileName(context.target) + " を " + folderOf(context.target) + " に保存できません (" +
               FileReason(e.ErrorCode()) + ")";
    } catch (const Exception& e) {
        if (e.Message() == "Too many redirects")
            return "転送 (リダイレクト) が多すぎます (" + std::to_string(TNMHTTP::MaxIterations) + " 回を超えました)";
        if (e.Message() == "Invalid URL" || e.Message() == "Empty URL")
            return "ファイルのアドレスが正しくありません";
        if (e.Message() == "Invalid header field")
            return "サーバーが送ってきた値 (クッキーなど) に送り返せない文字があります";
        return "ダウンロードできませんでした (" + e.Message() + ")";
    } catch (const std::bad_alloc&) {
        return "ダウンロードできませんでした (メモリーが足りません)";
    } catch (...) {
        return "ダウンロードできませんでした";
    }
}

std::string TMessages::ExtractionText(int result, const std::string& folder, const std::string& report)
{
    std::string why;
    switch (result) {
    case ARCERR_OPEN: why = "書庫を開けません"; break;
    case ARCERR_NOT_ARCHIVE: why = "この形式の書庫ではありません"; break;
    case ARCERR_DAMAGED: why = "書庫が壊れています"; break;
    case ARCERR_CRC: why = "書庫の中のファイルが壊れています (CRC エラー)"; break;
    case ARCERR_METHOD: why = "対応していない圧縮方法か、暗号化されたファイルがあります"; break;
    case ARCERR_UNSAFE: why = "危険な名前のファイルがあったので展開しませんでした"; break;
    case ARCERR_WRITE: {
        why = "ファイルを書き込めません";
        // The library's report names the system's reason in the words of
        // this process's locale; else the folder tells why.
        for (const int error : {ENOSPC, EDQUOT, EROFS, EACCES, EPERM, EIO, EFBIG, ENAMETOOLONG, EISDIR, ENOTDIR}) {
            if (report.find(std::string(": ") + std::strerror(error)) != std::string::npos) {
                why += " (" + FileReason(error) + ")";
                return "解凍できませんでした: " + why;
            }
        }
        struct statvfs fs {};
        if (::statvfs(folder.c_str(), &fs) == 0) {
            if (fs.f_flag & ST_RDONLY)
                why += " (" + FileReason(EROFS) + ")";
            else if (fs.f_bavail == 0 || static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < 64 * 1024)
                why += " (" + FileReason(ENOSPC) + ")";
            else if (::access(folder.c_str(), W_OK) != 0)
                why += " (" + FileReason(errno) + ")";
        }
        break;
    }
    case ARCERR_ABORTED: why = "展開を中止しました"; break;
    case ARCERR_NO_FILES: why = "展開するファイルがありません"; break;
    case ARCERR_NAME: why = "扱えない名前か大きさのファイルがあります"; break;
    default: why = "書庫を展開できませんでした (結果 " + std::to_string(result) + ")"; break;
    }
    return "解凍できませんでした: " + why;
}
