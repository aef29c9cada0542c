// Keys and signatures made by Debian's minisign program, and its verdict
// (library fetchlet_testsupport_commands). Keys are made without a
// password (-W), so nothing asks for one.
//
//   const auto key = testsupport::MinisignKey::Make(dir.path(), "publisher");
//   key.Sign(dir.file("f.zip"));                     // f.zip.minisig, "ED"
//   key.Sign(file, {.legacy = true, .trusted = "timestamp:5\tfile:f.zip"});
//   testsupport::MinisignAccepts(key.pub, file, file + ".minisig");
#pragma once
#include <string>

namespace testsupport {

struct SignOptions {
    bool legacy = false;     // the "Ed" form (-l)
    std::string trusted;     // the trusted comment; empty: minisign's own
    std::string out;         // the signature file; empty: FILE.minisig
};

struct MinisignKey {
    std::string pub; // public key file
    std::string sec; // secret key file
    bool ok = false;

    // A new key pair as DIR/NAME.pub and DIR/NAME.key.
    static MinisignKey Make(const std::string& dir, const std::string& name);
    bool Sign(const std::string& file, const SignOptions& options = {}) const;
};

// minisign -V says the signature is good for the file.
bool MinisignAccepts(const std::string& pub, const std::string& file, const std::string& signature);

} // namespace testsupport
