// The CAB back-end: "CAB32.DLL", entries "Cab...".
//
// Extraction runs "-x" and creation "-a" through "Cab", with the archive
// expanded to a full path and the same switches; ExtractMem the same
// builder without a command word through "CabExtractMem". The response-file
// rule comes from the option set (ruOnUnpack, ruOnPack).
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Cab32Dll();

class TCab32 : public TArchiver {
public:
    TCab32();
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
                     const TArchiverOptions& options) const;
    bool KillOwnerWindow(HWND window) override;
};
