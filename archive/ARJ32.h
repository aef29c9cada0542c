// The ARJ back-end: "UNARJ32J.DLL", entries "Unarj...".
//
// Extraction builds the LHA command line ("x" and the LHA switches) and runs
// it through the "Unarj" entry; the file list goes to the response file when
// the caller says so. Creation, deletion, update and memory extraction are
// TLha32's, through "UNLHA32.DLL" (which reads ARJ archives into memory and
// refuses to write them); listing and checking use the "Unarj" entries. The
// owner window is set in both "UNLHA32.DLL" and "UNARJ32J.DLL".
#pragma once
#include "archive/LHA32.h"

// The process-wide "UNARJ32J.DLL".
TArchiverDll& Unarj32Dll();

class TArj32 : public TLha32 {
public:
    // Loads "UNARJ32J.DLL"; raises EArchiver when it is missing.
    TArj32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    ARCHIVER_LISTING_DECL
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;
};
