// The LHA back-end: "UNLHA32.DLL", entries "Unlha...".
//
// Extraction runs the command word "x" with the LHA switches (every option
// under its own letter) through the "Unlha" entry. TArj32 reuses the
// switches with its own library.
#pragma once
#include "archive/ARCHIVES.h"

// The process-wide "UNLHA32.DLL".
TArchiverDll& Unlha32Dll();

class TLha32 : public TArchiver {
public:
    // Loads "UNLHA32.DLL"; raises EArchiver when it is missing.
    TLha32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;

    // The text after the command word: "-+", every switch, UserOptions,
    // archive, folder and file list.
    static std::string BuildCommand(const std::string& archive, bool useResFile, const TFileList& files,
                                    const std::string& folder, const TArchiverOptions& options, bool ownerSet);

protected:
    struct NoLoad {};
    explicit TLha32(NoLoad) {}
};
