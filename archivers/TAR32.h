// The TAR family drivers over TAR32.DLL: plain tar, gzip (TTgz32) and bzip2 (TBZ232).
#pragma once
#include "archivers/Archives.h"

namespace norvex {

class TTar32 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();
    // The module's GetArchiveType answer as a type: 1 atTar, 2-5 atTgz, 6-7 atBZ2, else atNone.
    static TArchiverType CheckType(const AnsiString& name);
    static TArchiverType TypeFromArchiveType(int archiveType);

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }

    // Joins the stub "kmtarsef.exe" and the archive into <archive>.EXE; runs no module command.
    int MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                const AnsiString& folder, const TArchiverOptions& options) override;

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;
    AnsiString BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& options,
                                      const AnsiString& entryName) override;

private:
    AnsiString BuildTarCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                               const AnsiString& folder, const TFileList& files, bool useResponseFile);
};

class TTgz32 : public TTar32 {};
class TBZ232 : public TTar32 {};

}  // namespace norvex
