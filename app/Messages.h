// TMessages: the words the user reads when a download fails, in Japanese
// and in the user's terms. The lead sentence says what happened; the detail
// after it says how much arrived of how much, which server, how long the
// program waited, what the certificate check found (the common OpenSSL
// reasons in Japanese, the rest as OpenSSL gives them) or why a file could
// not be written (no space, not allowed, read-only, a folder in the way),
// naming the user's file, never the program's own ("DL.dat") or a part
// file. Never a socket number or the component's own English: those stay
// in the components' exceptions, where httpget and the tests read them.
//
// A reply of 400 or more is named by its number and Japanese words
// (ReplyText), as the second line under the system's "error".
#pragma once
#include "net/NMHttp.h"

#include <cstdint>
#include <exception>
#include <string>

class TMessages {
public:
    // What the texts may name beside the component's state.
    struct TContext {
        std::string target;       // the downloaded file, its path
        int connectLimit = 30000; // milliseconds
        int idleLimit = 60000;    // milliseconds
    };

    // The user's message for a failed download.
    static std::string FailureText(std::exception_ptr error, TNMHTTP& http, const TContext& context);
    // The user's message for an archiver library's result; folder: where
    // it extracted, report: the library's own report of the extraction (a
    // write failure's reason is found there, or else in the folder).
    static std::string ExtractionText(int result, const std::string& folder, const std::string& report = {});
    // "503 サーバーが一時的に利用できません"
    static std::string ReplyText(int replyNumber);
    // "サーバーの応答: 503 サーバーが一時的に利用できません"
    static std::string ReplyLine(int replyNumber);
    // Why a file cannot be written, from errno.
    static std::string FileReason(int error);
    // The certificate check's or the handshake's reason in Japanese where
    // it is a common one.
    static std::string TlsReason(const std::string& reason);
    // A byte count as the user reads it ("2,216,107 バイト").
    static std::string Bytes(std::int64_t count);
    // The short status after a failure (the status label).
    static const char* const FailedStatus;
};
