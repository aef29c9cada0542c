// The tar back-ends: "tar32.dll", entries "Tar...". TTar32 serves plain tar,
// TTgz32 gzip/compress (".gz", ".tgz", ".taz", ".z") and TBZ232 bzip2; the
// two derive from TTar32 and override nothing: the builder asks which class
// it runs in ("-z" for TTgz32, "-B" for TBZ232).
//
// The builder separates switch values ("-f" "archive", "-o" "folder/").
// Extraction runs "x", creation "c" through "Tar"; ExtractMem the builder
// without a command word through "TarExtractMem". The response-file rule
// comes from the option set (ruOnUnpack, ruOnPack).
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Tar32Dll();

class TTar32 : public TArchiver {
public:
    TTar32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile, const TFileList& files,
             const std::string& folder, const TArchiverOptions& options) override;
    int MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                const TArchiverOptions& options) override;
    int ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                   const std::string& member, const TArchiverOptions& options) override;
    ARCHIVER_LISTING_DECL
    bool SetOwnerWindow(HWND window) override;

private:
    std::string Text(const std::string& archive, bool useResFile, const TFileList& files, const std::string& folder,
                     const TArchiverOptions& options);
    bool KillOwnerWindow(HWND window) override;
};

class TTgz32 : public TTar32 {};

class TBZ232 : public TTar32 {};
