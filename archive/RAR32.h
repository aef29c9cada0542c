// The RAR back-end: "UNRAR32.DLL", entries "Unrar...".
//
// Extraction runs "-x" (or "-e" when the option x is 0, which drops the
// stored folders) through "Unrar"; ExtractMem the builder without a command
// word through "UnrarExtractMem". RAR archives are not written: creation,
// deletion, update and self-extracting files are the base's messages.
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Unrar32Dll();

class TRar32 : public TArchiver {
public:
    TRar32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                   const std::string& member, const TArchiverOptions& options) override;
    ARCHIVER_LISTING_DECL
    bool SetOwnerWindow(HWND window) override;

private:
    std::string Text(const std::string& archive, bool useResFile, const TFileList& files, const std::string& folder,
                     const TArchiverOptions& options) const;
    bool KillOwnerWindow(HWND window) override;
};
