// The exceptions of the archiver access layer and the format drivers.
//
// Every message is cp932 text (an AnsiString), like every other string of the core, and what()
// returns those same cp932 bytes. Callers that print to a UTF-8 terminal convert with FromAnsi, or
// use MessageUtf8().
#pragma once
#include <exception>
#include <string>

#include "platform/AnsiString.h"

namespace norvex {

class EArchiver : public std::exception {
public:
    explicit EArchiver(AnsiString message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const AnsiString& Message() const noexcept { return FMessage; }
    std::string MessageUtf8() const;

private:
    AnsiString FMessage;
};

// The DLL of a format could not be loaded: "<format> を扱うには <DLL> が 必要です。"
class ENoArchiverDLL : public EArchiver {
public:
    using EArchiver::EArchiver;
};

// A required entry of a loaded DLL is missing.
class EEntryNotFound : public EArchiver {
public:
    using EArchiver::EArchiver;
};

// A self-extracting archive needs a file that is not there (a stub, or the creating DLL).
class ESfxNoRequiredFile : public EArchiver {
public:
    ESfxNoRequiredFile(const AnsiString& format, const AnsiString& qualifier, const AnsiString& requiredFile);
    const AnsiString& Format() const noexcept { return FFormat; }
    const AnsiString& Qualifier() const noexcept { return FQualifier; }
    const AnsiString& RequiredFile() const noexcept { return FRequiredFile; }

private:
    AnsiString FFormat, FQualifier, FRequiredFile;
};

// A precondition of a driver failed; the message is the fixed text, the unit and line tell where.
class EArchiverAssertion : public EArchiver {
public:
    EArchiverAssertion(AnsiString message, const char* unit, int line)
        : EArchiver(std::move(message)), FUnit(unit), FLine(line) {}
    const char* Unit() const noexcept { return FUnit; }
    int Line() const noexcept { return FLine; }

private:
    const char* FUnit;
    int FLine;
};

// A response file could not be created: "ファイル <path> を作成できません。"
class EFCreateError : public std::exception {
public:
    explicit EFCreateError(const AnsiString& path);
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    AnsiString FMessage;
};

// Builds a message from a pattern with "%0:s" and "%1:s" placeholders (both cp932).
AnsiString FormatMessage2(const AnsiString& pattern, const AnsiString& arg0, const AnsiString& arg1 = {});

}  // namespace norvex
