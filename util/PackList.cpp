// The pack-list builder: the walk, the filters and the two passes.
#include "util/PackList.h"

#include <cstring>
#include <set>

#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "util/Paths.h"
#include "util/Streams.h"
#include "util/Times.h"

namespace norvex {

namespace {

// The order of the list: ASCII letters without regard to case, as the archivers expect, then bytes,
// so that "A.txt" and "a.txt" (two files on Linux) both stay.
struct TPackOrder {
    bool operator()(const AnsiString& x, const AnsiString& y) const {
        std::size_t i = 0, j = 0;
        while (i < x.size() && j < y.size()) {
            const std::size_t nx = AnsiCharLength(x, i), ny = AnsiCharLength(y, j);
            unsigned cx = static_cast<unsigned char>(x[i]), cy = static_cast<unsigned char>(y[j]);
            if (nx == 2) cx = (cx << 8) | static_cast<unsigned char>(x[i + 1]);
            else if (cx >= 'A' && cx <= 'Z') cx += 'a' - 'A';
            if (ny == 2) cy = (cy << 8) | static_cast<unsigned char>(y[j + 1]);
            else if (cy >= 'A' && cy <= 'Z') cy += 'a' - 'A';
            if (cx != cy) return cx < cy;
            i += nx;
            j += ny;
        }
        if ((i < x.size()) != (j < y.size())) return j < y.size();
        return x < y;
    }
};

using TPathSet = std::set<AnsiString, TPackOrder>;

// One pass of the builder.
class TPackWalker {
public:
    TPackWalker(const TPackListOptions& options, const AnsiString& absoluteBase, TPackContext& context,
                TPathSet& targets, const TPathSet* excluded, bool mainPass)
        : options_(options), base_(absoluteBase), context_(context), targets_(targets), excluded_(excluded),
          mainPass_(mainPass) {
        fileMask_ = faReadOnly | faArchive;
        if (options.a > 0) fileMask_ |= faHidden | faSysFile;
        lower_ = ParseDateBound(options.jo, LowerBoundTime);
        upper_ = ParseDateBound(options.job, UpperBoundTime);
    }

    void Arguments(const std::vector<AnsiString>& arguments) {
        for (const AnsiString& argument : arguments) {
            if (Cancelled()) return;
            if (options_.r > 1 && IsFolder(argument)) Walk(argument, "*.*");
            else Walk(ExtractHostFolder(argument), ExtractHostName(argument));
        }
    }

    void Walk(const AnsiString& folder, const AnsiString& mask) {
        if (mask.empty()) return;
        {
            TSearchRec rec;
            for (int found = FindFirstEntry(JoinPath(folder, mask), fileMask_, rec); found == 0; found = FindNext(rec)) {
                if (Cancelled()) return;
                if (InBounds(rec.LastWriteTime)) Add(StoredPath(JoinPath(folder, rec.Name)));
            }
        }
        if (options_.r > 0 && (options_.p <= 0 || HasWildcard(mask))) {
            TSearchRec rec;
            const uint32_t folderMask = faDirectory | faHidden | faSysFile;
            for (int found = FindFirstEntry(JoinPath(folder, "*.*"), folderMask, rec); found == 0; found = FindNext(rec)) {
                if (Cancelled()) return;
                // A linked folder is not entered: it may lead out of the tree or back into it.
                if ((rec.Attr & faDirectory) && !(rec.Attr & faSymLink)) Walk(JoinPath(folder, rec.Name), mask);
            }
        }
    }

private:
    bool Cancelled() const { return context_.Cancel.load(); }

    // Compared at whole seconds: the bounds have a resolution of one second, so a file written at
    // 23:59:59.5 still belongs to its day.
    bool InBounds(FILETIME lastWrite) const {
        if (lower_ == 0 && upper_ == 0) return true;
        FILETIME local = FileTimeToLocalFileTime(lastWrite);
        local -= local % FileTimeTicksPerSecond;
        const TDateTime time = FileTimeToDateTime(local);
        const double halfMillisecond = 0.5 / 86'400'000.0;  // both sides are whole seconds, up to rounding
        return (lower_ == 0 || lower_ <= time + halfMillisecond) && (upper_ == 0 || time <= upper_ + halfMillisecond);
    }

    AnsiString StoredPath(const AnsiString& path) const {
        if (options_.jf <= 0) return path;
        if (options_.RelativePath) return options_.RelativePath(path, base_);
        if (base_.empty() || path.empty() || path[0] != PathDelim) return path;
        const AnsiString prefix = base_ == "/" ? base_ : base_ + PathDelim;
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) return path.substr(prefix.size());
        return path;
    }

    void Add(const AnsiString& path) {
        if (excluded_ && excluded_->count(path)) return;
        const std::size_t before = targets_.size();
        targets_.insert(path);
        if (mainPass_ && options_.IncludeExtraStreams) ExportStreams(path);
        if (mainPass_ && targets_.size() != before) Report(path);
    }

    void ExportStreams(const AnsiString& path) {
        if (!VolumeSupportsNamedStreams(path)) return;
        for (const TNamedStream& stream : ReadNamedStreams(path)) {
            if (stream.Name.empty()) continue;
            AnsiString exported;
            // A file of that name that was there before is packed as it is, and never deleted later.
            if (ExportStream(path, stream, options_.StreamSeparator, exported))
                context_.StreamFiles.push_back(ExpandFileName(exported));
            targets_.insert(exported);
        }
    }

    void Report(const AnsiString& path) {
        if (!context_.OnProgress) return;
        char buffer[PackListPathBufferSize] = {};
        std::size_t length = 0;
        while (length < path.size()) {
            const std::size_t n = AnsiCharLength(path, length);
            if (length + n > PackListPathBufferSize - 1) break;
            length += n;
        }
        std::memcpy(buffer, path.data(), length);
        bool abort = false;
        context_.OnProgress(PackListProgressState, buffer, abort);
        if (abort) context_.Cancel = true;
    }

    const TPackListOptions& options_;
    const AnsiString& base_;
    TPackContext& context_;
    TPathSet& targets_;
    const TPathSet* excluded_;
    const bool mainPass_;
    uint32_t fileMask_ = 0;
    TDateTime lower_ = 0;
    TDateTime upper_ = 0;
};

}  // namespace

std::vector<AnsiString> BuildPackList(const std::vector<AnsiString>& files, TPackListOptions& options,
                                      const AnsiString& baseFolder, TPackContext& context) {
    const AnsiString absoluteBase = ExpandFileName(baseFolder.empty() ? AnsiString(1, '.') : baseFolder);
    TBaseFolderScope scope(baseFolder);
    if (!scope.ok()) throw EPackList("基準フォルダに移動できません: " + FromAnsi(baseFolder));

    TPathSet excluded;
    if (!options.jx.empty()) {
        TPackWalker exclusionPass(options, absoluteBase, context, excluded, nullptr, false);
        exclusionPass.Arguments(options.jx);
    }

    TPathSet targets;
    TPackWalker mainPass(options, absoluteBase, context, targets, &excluded, true);
    if (files.empty()) mainPass.Walk(AnsiString(), "*.*");
    else mainPass.Arguments(files);

    // The list is expanded: the archiver must not recurse or filter by date again.
    options.r = -1;  // 255 as a signed byte
    options.jo = NotGivenText;
    options.job = NotGivenText;
    options.p = 1;
    return std::vector<AnsiString>(targets.begin(), targets.end());
}

}  // namespace norvex
