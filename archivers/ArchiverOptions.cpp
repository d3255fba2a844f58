// Defaults of the option set and the items of a command line.
#include "archivers/ArchiverOptions.h"

#include <cstdio>

#include "archivers/ArchiverErrors.h"
#include "platform/AnsiCodec.h"

namespace norvex {

void TArchiverOptions::Reset() {
    for (TSwitch* v : {&a, &c, &e, &f, &h, &i, &l, &m, &n, &o, &p, &r, &s, &t, &u, &x, &y, &z, &jc, &jd, &je,
                       &jf, &jh, &ji, &jm, &jn, &jp, &jr, &jsb, &jsc, &jsd, &jse, &jsf, &jsl, &jso, &jss, &jst,
                       &jsv, &jsz, &jw, &jyc, &jyd, &jyk, &jyn, &jyo, &ga, &gd, &ge, &gf, &gj, &gm, &gn, &go,
                       &gp, &gs, &gu, &gw, &gya, &gyc, &gyo, &gyq, &gys, &gyx})
        *v = -1;
    for (AnsiString* v : {&w, &jo, &job, &jz, &gr, &gyd, &gye, &gyt, &gyw}) *v = kNotGiven;
    jx.clear();
    UserOptions.clear();
    UserFileList.clear();
    PackFilter = TPackFilter::pfComponent;
    ResFileName.clear();
    ResFileUsage = ruOnPack | ruOnUnpack | ruOnRemoveItem;
}

std::vector<AnsiString> ExpandFileList(const TFileList& files) {
    std::vector<AnsiString> names;
    auto take = [&names](const char* s) {
        if (s && *s) names.emplace_back(s);
    };
    for (const TFileListItem& item : files) {
        if (const auto* s = std::get_if<AnsiString>(&item)) {
            if (!s->empty()) names.push_back(*s);
        } else if (const auto* p = std::get_if<const char*>(&item)) {
            take(*p);
        } else if (const auto* arr = std::get_if<const char* const*>(&item)) {
            for (const char* const* q = *arr; q && *q; ++q) take(*q);
        } else if (const auto* list = std::get_if<std::vector<AnsiString>>(&item)) {
            for (const AnsiString& line : *list)
                if (!line.empty()) names.push_back(line);
        }
    }
    return names;
}

bool EndsWithPathDelim(const AnsiString& s) {
    return !s.empty() && AnsiLastDelimiter(s, std::string_view(&PathDelim, 1)) == s.size() - 1;
}

AnsiString IncludeTrailingPathDelim(const AnsiString& s) { return EndsWithPathDelim(s) ? s : s + PathDelim; }

void TCmdOpt::Add(std::string_view text) {
    CommandLine += ' ';
    CommandLine += text;
}

AnsiString QuoteArgument(std::string_view text) {
    AnsiString out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        // A double quote is never a trail byte, so every 0x22 byte is one to double.
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

AnsiString ProtectName(const AnsiString& name) {
    if (!name.empty() && (name[0] == '@' || name[0] == '-')) return "./" + name;
    return name;
}

void TCmdOpt::AddValue(const AnsiString& name, const AnsiString& value) {
    if (IsNotGiven(value)) return;
    if (name.empty()) {
        Add(QuoteArgument(ProtectName(value)));
        return;
    }
    const AnsiString sw = name[0] == ' ' ? name.substr(1) : "-" + name;
    if (QuoteStyle)
        Add(sw + " " + QuoteArgument(value));
    else
        Add(QuoteArgument(sw + value));
}

void TCmdOpt::AddNumber(const AnsiString& name, int number) {
    if (number >= 0) Add("-" + name + std::to_string(number));
}

void TCmdOpt::AddFlag(const AnsiString& name, bool on) {
    if (on) Add("-" + name);
}

void TCmdOpt::AddFolder(const AnsiString& name, const AnsiString& folder) {
    if (folder.empty() || IsNotGiven(folder)) return;
    AddValue(name, IncludeTrailingPathDelim(folder));
}

int TCmdOpt::AddFiles(const AnsiString& name, const TFileList& files) {
    const std::vector<AnsiString> names = ExpandFileList(files);
    for (const AnsiString& f : names) AddFile(name, f);
    return static_cast<int>(names.size());
}

int TCmdOpt::AddResponseFile(const TFileList& files, const AnsiString& path) {
    const std::vector<AnsiString> names = ExpandFileList(files);
    AnsiString content;
    for (const AnsiString& f : names) content += QuoteArgument(ProtectName(ConvertName(f))) + "\r\n";
    std::FILE* out = std::fopen(FromAnsi(path).c_str(), "wb");
    if (!out) throw EFCreateError(path);
    const bool ok = std::fwrite(content.data(), 1, content.size(), out) == content.size();
    if (std::fclose(out) != 0 || !ok) throw EFCreateError(path);
    Add(QuoteArgument("@" + path));
    return static_cast<int>(names.size());
}

}  // namespace norvex
