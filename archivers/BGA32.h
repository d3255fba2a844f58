// The BGA driver (BGA32.DLL).
#pragma once
#include "archivers/Archives.h"

namespace norvex {

class TBGA32 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();
    static bool CheckFile(const AnsiString& name);

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;
    AnsiString BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& options, const TFileList& files,
                                  bool useResponseFile) override;
    AnsiString BuildSfxCommand(const AnsiString& name, const TArchiverOptions& options,
                               const AnsiString& folder) override;

private:
    AnsiString BuildBgaCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                               const AnsiString& folder, const TFileList& files, bool useResponseFile);
};

}  // namespace norvex
