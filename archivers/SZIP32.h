// The 7z driver (7-zip32.dll). 7z archives are never found by content.
#pragma once
#include "archivers/Archives.h"

namespace norvex {

class TSevenZip32 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }

    // Joins the stub "7z.sfx" and the archive into <archive>.exe; runs no module command.
    int MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                const AnsiString& folder, const TArchiverOptions& options) override;

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;
    AnsiString BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& options, const TFileList& files,
                                  bool useResponseFile) override;

private:
    AnsiString Build7zCommand(const AnsiString& word, bool extraction, const AnsiString& name,
                              const TArchiverOptions& o, const AnsiString& folder, const TFileList& files,
                              bool useResponseFile);
};

}  // namespace norvex
