// The BGA back-end (GZA and BZA archives): "BGA32.DLL", entries "Bga...".
//
// Extraction runs "x", creation "a" and deletion "d" (no folder) through
// "Bga"; extraction and creation send the file list to the response file
// when the caller says so, deletion when the option set has ruOnRemoveItem.
// Update and memory extraction are the base's messages.
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Bga32Dll();

class TBGA32 : public TArchiver {
public:
    TBGA32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile, const TFileList& files,
             const std::string& folder, const TArchiverOptions& options) override;
    int RemoveItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                const TArchiverOptions& options) override;
    ARCHIVER_LISTING_DECL
    bool SetOwnerWindow(HWND window) override;

private:
    int Run(const std::string& word, HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
            const TFileList& files, const std::string& folder, const TArchiverOptions& options);
    bool KillOwnerWindow(HWND window) override;
};
