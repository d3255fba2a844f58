// libarchive behind the ArchiveSource contract: names in cp932, failures as the family's codes.
#include "modules/common/LibarchiveSource.h"

#include <archive.h>
#include <archive_entry.h>
#include <isa-l/crc.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "modules/common/RegularFile.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

namespace {

// One locale object per module, freed when the module is unloaded.
struct LocaleHolder {
    locale_t value = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    ~LocaleHolder() {
        if (value) freelocale(value);
    }
};

locale_t Utf8Locale() {
    static LocaleHolder holder;
    return holder.value;
}

bool Contains(const std::string& hay, const char* needle) {
    std::string h = hay, n = needle;
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
    std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
    return h.find(n) != std::string::npos;
}

bool FileExists(const std::string& hostPath) {
    struct stat st {};
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The largest hole readBlock() hands out at once.
constexpr std::size_t kMaxHole = std::size_t(1) << 30;

// The block size of our reads. libarchive hands out stored data straight from this block, which the
// extractor writes out at once: a block that stays in the cache between the two costs less than
// the system calls larger blocks would save (measured: 1 MiB blocks took about 10% more CPU).
constexpr std::size_t kReadBlock = 64 * 1024;
// The largest block readBlock() hands out.
constexpr std::size_t kMaxSlice = 64 * 1024;

}  // namespace

Utf8LocaleScope::Utf8LocaleScope() {
    if (locale_t l = Utf8Locale()) previous_ = uselocale(l);
}

Utf8LocaleScope::~Utf8LocaleScope() {
    if (previous_) uselocale(static_cast<locale_t>(previous_));
}

void LibarchiveSource::ArchiveDeleter::operator()(struct archive* a) const {
    if (a) archive_read_free(a);
}

LibarchiveSource::~LibarchiveSource() {
    archive_.reset();
    for (auto& v : volumes_) VolumeClose(nullptr, v.get());
}

int32_t LibarchiveSource::Open(const AnsiString& path, const LibarchiveOptions& options, const SourceContext& context,
                               std::unique_ptr<LibarchiveSource>& out) {
    Utf8LocaleScope scope;
    std::unique_ptr<LibarchiveSource> s(new LibarchiveSource);
    s->options_ = options;
    s->context_ = context;
    const std::vector<AnsiString>& volumes = options.volumes.empty() ? std::vector<AnsiString>{path} : options.volumes;
    for (const AnsiString& v : volumes) {
        auto volume = std::make_unique<Volume>();
        volume->owner = s.get();
        volume->index = s->volumes_.size();
        volume->path = FromAnsi(v);
        if (s->volumes_.empty()) {
            volume->base = static_cast<off_t>(options.startOffset);
            if (options.endOffset > options.startOffset) volume->end = static_cast<off_t>(options.endOffset);
        }
        s->volumes_.push_back(std::move(volume));
    }
    if (!FileExists(s->volumes_.front()->path)) return ARC_ERROR_NOT_FIND_ARC_FILE;
    s->groupStarts_.push_back(0);
    for (std::size_t start : options.groupStarts)
        if (start > s->groupStarts_.back() && start < s->volumes_.size()) s->groupStarts_.push_back(start);
    s->buffer_.reset(new (std::nothrow) unsigned char[kReadBlock]);
    if (!s->buffer_) return ARC_ERROR_ENOUGH_MEMORY;
    int32_t code = s->openGroup(0);
    if (code != ARC_OK) return code;
    out = std::move(s);
    return ARC_OK;
}

int32_t LibarchiveSource::openGroup(std::size_t group) {
    archive_.reset();
    for (auto& v : volumes_) VolumeClose(nullptr, v.get());
    group_ = group;
    std::size_t first = groupStarts_[group];
    std::size_t end = group + 1 < groupStarts_.size() ? groupStarts_[group + 1] : volumes_.size();
    currentVolume_ = first;
    struct archive* a = archive_read_new();
    if (!a) return ARC_ERROR_ENOUGH_MEMORY;
    archive_.reset(a);
    uint32_t f = options_.formats;
    if (f & FormatZip) archive_read_support_format_zip_seekable(a);
    if (f & FormatCab) archive_read_support_format_cab(a);
    if (f & FormatRar) {
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
    }
    if (f & FormatLha) archive_read_support_format_lha(a);
    if (f & Format7z) archive_read_support_format_7zip(a);
    if (f & FormatTar) {
        archive_read_support_format_tar(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_lzma(a);
        archive_read_support_filter_compress(a);
        archive_read_support_filter_zstd(a);
    }
    std::string charsetOption = "hdrcharset=" + options_.headerCharset;
    archive_read_set_options(a, charsetOption.c_str());
    archive_read_set_passphrase_callback(a, this, &LibarchiveSource::PassphraseCallback);
    archive_read_set_open_callback(a, &LibarchiveSource::VolumeOpen);
    archive_read_set_read_callback(a, &LibarchiveSource::VolumeRead);
    archive_read_set_skip_callback(a, &LibarchiveSource::VolumeSkip);
    archive_read_set_seek_callback(a, &LibarchiveSource::VolumeSeek);
    archive_read_set_close_callback(a, &LibarchiveSource::VolumeClose);
    archive_read_set_switch_callback(a, &LibarchiveSource::VolumeSwitch);
    archive_read_set_callback_data(a, volumes_[first].get());
    for (std::size_t i = first + 1; i < end; ++i) archive_read_append_callback_data(a, volumes_[i].get());
    if (archive_read_open1(a) != ARCHIVE_OK) {
        const char* why = archive_error_string(a);
        message_ = ToAnsi(why ? why : "");
        return ARC_ERROR_ARC_FILE_OPEN;
    }
    return ARC_OK;
}

int32_t LibarchiveSource::stop(int32_t code, AnsiString message) {
    message_ = std::move(message);
    fatal_ = true;
    return code;
}

int LibarchiveSource::VolumeOpen(struct archive* a, void* data) {
    auto* v = static_cast<Volume*>(data);
    if (v->fd >= 0) return ARCHIVE_OK;
    v->fd = OpenRegularFile(v->path);
    if (v->fd < 0 || ::lseek(v->fd, v->base, SEEK_SET) != v->base) {
        archive_set_error(a, errno, "cannot open %s", v->path.c_str());
        if (v->fd >= 0) ::close(v->fd);
        v->fd = -1;
        return ARCHIVE_FATAL;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(v->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    v->owner->currentVolume_ = v->index;
    return ARCHIVE_OK;
}

la_ssize_t LibarchiveSource::VolumeRead(struct archive* a, void* data, const void** buffer) {
    auto* v = static_cast<Volume*>(data);
    *buffer = v->owner->buffer_.get();
    std::size_t want = kReadBlock;
    if (v->end >= 0) {
        const off_t here = ::lseek(v->fd, 0, SEEK_CUR);
        if (here < 0) {
            archive_set_error(a, errno, "cannot read %s", v->path.c_str());
            return -1;
        }
        want = here >= v->end ? 0 : static_cast<std::size_t>(std::min<off_t>(v->end - here, static_cast<off_t>(kReadBlock)));
        if (want == 0) return 0;
    }
    for (;;) {
        ssize_t n = ::read(v->fd, v->owner->buffer_.get(), want);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        archive_set_error(a, errno, "cannot read %s", v->path.c_str());
        return -1;
    }
}

la_int64_t LibarchiveSource::VolumeSkip(struct archive*, void* data, la_int64_t request) {
    auto* v = static_cast<Volume*>(data);
    struct stat st {};
    off_t here = ::lseek(v->fd, 0, SEEK_CUR);
    if (here < 0 || ::fstat(v->fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;  // libarchive reads instead
    const off_t end = v->end >= 0 ? std::min<off_t>(v->end, st.st_size) : st.st_size;
    off_t target = std::min<off_t>(here + request, std::max<off_t>(end, here));
    if (::lseek(v->fd, target, SEEK_SET) < 0) return 0;
    return target - here;
}

la_int64_t LibarchiveSource::VolumeSeek(struct archive* a, void* data, la_int64_t offset, int whence) {
    auto* v = static_cast<Volume*>(data);
    // Offsets are the archive's own: a stub in front is not part of it.
    // The end is the archive's own too, where it ends before the file does.
    off_t r = whence == SEEK_END && v->end >= 0 ? ::lseek(v->fd, v->end + offset, SEEK_SET)
                                                : ::lseek(v->fd, whence == SEEK_SET ? offset + v->base : offset, whence);
    if (r >= 0 && r < v->base) r = ::lseek(v->fd, v->base, SEEK_SET);
    if (r < 0) {
        archive_set_error(a, errno, "cannot seek in %s", v->path.c_str());
        return ARCHIVE_FATAL;
    }
    return r - v->base;
}

int LibarchiveSource::VolumeClose(struct archive*, void* data) {
    auto* v = static_cast<Volume*>(data);
    if (v->fd >= 0) ::close(v->fd);
    v->fd = -1;
    return ARCHIVE_OK;
}

int LibarchiveSource::VolumeSwitch(struct archive* a, void* from, void* to) {
    if (from) VolumeClose(a, from);
    if (!to) return ARCHIVE_OK;
    // Seeking (ZIP) may switch back to a volume read before: it starts from its beginning again.
    return VolumeOpen(a, to);
}

// A password is typed as text, but an archive holds the bytes of the program that made it: cp932 on
// Windows, UTF-8 on Linux. So the answer's cp932 bytes are tried first, then the UTF-8 bytes of the
// same text, and only then is the user asked again, by a question that says the password was wrong.
const char* LibarchiveSource::PassphraseCallback(struct archive*, void* self) {
    auto* s = static_cast<LibarchiveSource*>(self);
    if (!s->passwordUtf8_.empty()) {
        s->password_ = std::move(s->passwordUtf8_);
        s->passwordUtf8_.clear();
        return s->password_.c_str();
    }
    NvxWindow* w = s->context_.window;
    if (!w || !w->ask || s->passwordAsks_ >= 3) return nullptr;
    static const AnsiString caption = "パスワード入力"_ansi;
    static const AnsiString captionAgain = "パスワードが違います"_ansi;
    const AnsiString& asking = s->passwordAsks_ == 0 ? caption : captionAgain;
    ++s->passwordAsks_;
    char buffer[256] = {};
    int32_t answer = w->ask(w, ARC_ASK_PASSWORD, asking.c_str(), s->currentName_.c_str(), buffer, sizeof buffer);
    if (answer != ARC_ANSWER_YES) {
        s->passwordAsks_ = 3;  // the user gave none: stop asking for this entry
        return nullptr;
    }
    buffer[sizeof buffer - 1] = '\0';
    s->password_ = buffer;
    if (std::string utf8 = FromAnsi(s->password_); utf8 != s->password_) s->passwordUtf8_ = std::move(utf8);
    return s->password_.c_str();
}

int32_t LibarchiveSource::mapFailure(int status, bool header) {
    struct archive* a = archive_.get();
    const char* why = archive_error_string(a);
    const std::string text = why ? why : "";
    if (status == ARCHIVE_FATAL) fatal_ = true;
    const int32_t code = failureCode(archive_errno(a), text, header);
    // The reason in the user's words; libarchive's text after it, for whoever looks further.
    AnsiString reason;
    switch (code) {
    case ARC_ERROR_ENOUGH_MEMORY: reason = "メモリが足りません"_ansi; break;
    case ARC_PASSWORD_FILE:
        reason = Contains(text, "passphrase") ? "パスワードが違うか、入力されていません"_ansi
                                              : "暗号化された項目は展開できません"_ansi;
        break;
    case ARC_ERROR_HEADER_CRC: reason = "ヘッダの CRC が一致しません"_ansi; break;
    case ARC_FILE_CRC: reason = "CRC が一致しません"_ansi; break;
    case ARC_METHOD: reason = "対応していない圧縮法です"_ansi; break;
    case ARC_ERROR_NOT_ARC_FILE: reason = "書庫ではありません"_ansi; break;
    case ARC_ERROR_EOF: reason = "データが途中で終わっています"_ansi; break;
    case ARC_ERROR_HEADER_BROKEN: reason = "書庫のヘッダが壊れています"_ansi; break;
    default: reason = "データが壊れています"_ansi; break;
    }
    message_ = text.empty() ? reason : reason + ": " + ToAnsi(text);
    return code;
}

int32_t LibarchiveSource::failureCode(int err, const std::string& text, bool header) const {
    if (err == ENOMEM) return ARC_ERROR_ENOUGH_MEMORY;
    if (Contains(text, "passphrase") || Contains(text, "encrypt") || Contains(text, "decryption"))
        return ARC_PASSWORD_FILE;
    // Data libarchive cannot decrypt fails in whatever way its decoder meets the noise.
    if (!header && currentEncrypted_) return ARC_PASSWORD_FILE;
    if (Contains(text, "crc") || Contains(text, "checksum")) return header ? ARC_ERROR_HEADER_CRC : ARC_FILE_CRC;
    // RAR 5 data whose block header is damaged reads as an "unsupported block header size".
    if (!header && Contains(text, "block header")) return ARC_ERROR_CANNOT_READ;
    if (Contains(text, "unsupported") || Contains(text, "not supported") || Contains(text, "unknown compression") ||
        Contains(text, "compression method"))
        return ARC_METHOD;
    if (header && firstHeader_) return ARC_ERROR_NOT_ARC_FILE;
    if (Contains(text, "truncated") || Contains(text, "premature") || Contains(text, "unexpected end"))
        return ARC_ERROR_EOF;
    if (header) return ARC_ERROR_HEADER_BROKEN;
    return ARC_ERROR_CANNOT_READ;
}

int32_t LibarchiveSource::nextEntry(EntryInfo& entry) {
    Utf8LocaleScope scope;
    struct archive* a = archive_.get();
    struct archive_entry* e = nullptr;
    int r = archive_read_next_header(a, &e);
    while (r == ARCHIVE_EOF) {
        if (firstHeader_) {
            // An archive without entries is still an archive, but a file no reader knows is not.
            if (archive_format(a) == 0) return ARC_ERROR_NOT_ARC_FILE;
        }
        // The reader must have come to the last volume of its group; stopping earlier would leave
        // volumes unread, and unread volumes must never pass as extracted.
        std::size_t groupEnd = group_ + 1 < groupStarts_.size() ? groupStarts_[group_ + 1] : volumes_.size();
        if (currentVolume_ + 1 < groupEnd)
            return stop(ARC_ERROR_EOF, "分割書庫の途中で読み取りが終わりました: "_ansi + ToAnsi(volumes_[currentVolume_ + 1]->path));
        if (group_ + 1 >= groupStarts_.size()) {
            if (!options_.incompleteEnd.empty()) return stop(ARC_ERROR_EOF, options_.incompleteEnd);
            if (!firstHeader_) tellUnmarkedEnd();
            return ARC_FIND_END;
        }
        int32_t code = openGroup(group_ + 1);
        if (code != ARC_OK) return stop(code, message_);
        a = archive_.get();
        r = archive_read_next_header(a, &e);
    }
    if (r < ARCHIVE_WARN || !e) {
        int32_t code = mapFailure(r, true);
        fatal_ = true;
        firstHeader_ = false;
        return code;
    }
    firstHeader_ = false;
    passwordAsks_ = 0;
    passwordUtf8_.clear();
    verifyCrc_ = false;
    runningCrc_ = 0;
    position_ = 0;
    pendingEnd_ = false;
    pendingData_ = nullptr;
    pendingSize_ = 0;
    endOffset_ = 0;
    dataRead_ = 0;
    mappedData_ = -1;
    // A sparse entry whose stored data is shorter than its map says would end with the missing
    // regions as holes: the map's data is counted, and a shortfall is a failure.
    if (archive_entry_sparse_count(e) > 0) {
        mappedData_ = 0;
        la_int64_t offset = 0, length = 0;
        archive_entry_sparse_reset(e);
        while (archive_entry_sparse_next(e, &offset, &length) == ARCHIVE_OK)
            if (length > 0) mappedData_ += length;
    }

    entry = EntryInfo{};
    const char* name = archive_entry_pathname(e);
    if (!name) name = archive_entry_pathname_utf8(e);
    entry.path = ToAnsi(name ? name : "");
    switch (archive_entry_filetype(e)) {
    case AE_IFREG: entry.type = EntryType::File; break;
    case AE_IFDIR: entry.type = EntryType::Directory; break;
    case AE_IFLNK: entry.type = EntryType::Symlink; break;
    case 0: entry.type = EntryType::File; break;
    default: entry.type = EntryType::Other; break;
    }
    if (const char* link = archive_entry_hardlink(e)) {
        entry.linkTarget = ToAnsi(link);
        if (!archive_entry_size_is_set(e) || archive_entry_size(e) == 0) entry.type = EntryType::Hardlink;
    }
    if (entry.type == EntryType::Symlink) {
        const char* target = archive_entry_symlink(e);
        entry.linkTarget = ToAnsi(target ? target : "");
    }
    entry.size = entry.type == EntryType::File ? (archive_entry_size_is_set(e) ? archive_entry_size(e) : -1) : 0;
    if (archive_entry_mtime_is_set(e)) {
        entry.hasMtime = true;
        entry.mtime = archive_entry_mtime(e);
        entry.mtimeNsec = static_cast<int32_t>(archive_entry_mtime_nsec(e));
    }
    // The ZIP reader sets an access time of 0 on every entry whose archive records none; taken as
    // a time, every extracted file would claim to have been read in 1970.
    if (archive_entry_atime_is_set(e) && (archive_entry_atime(e) != 0 || archive_entry_atime_nsec(e) != 0)) {
        entry.hasAtime = true;
        entry.atime = archive_entry_atime(e);
        entry.atimeNsec = static_cast<int32_t>(archive_entry_atime_nsec(e));
    }
    if (archive_entry_birthtime_is_set(e)) {
        entry.hasBirthtime = true;
        entry.birthtime = archive_entry_birthtime(e);
        entry.birthtimeNsec = static_cast<int32_t>(archive_entry_birthtime_nsec(e));
    }
    entry.hasMode = true;
    entry.mode = archive_entry_perm(e);
    entry.encrypted = archive_entry_is_encrypted(e) != 0;
    currentEncrypted_ = entry.encrypted;

    switch (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_RAR: entry.method = "RAR"; break;
    case ARCHIVE_FORMAT_RAR_V5: entry.method = "RAR5"; break;
    case ARCHIVE_FORMAT_CAB: entry.method = "CAB"; break;
    case ARCHIVE_FORMAT_TAR: entry.method = "TAR"; break;
    case ARCHIVE_FORMAT_LHA: entry.method = "LHA"; break;
    case ARCHIVE_FORMAT_7ZIP: entry.method = "7z"; break;
    case ARCHIVE_FORMAT_ZIP: entry.method = "ZIP"; break;
    default: break;
    }

    // The ZIP module's own reading of the central directory: names and details, in the order
    // libarchive walks the entries, while the sizes agree.
    if (!options_.overrides.empty() && overridesValid_) {
        if (entryIndex_ < options_.overrides.size() &&
            (entry.type != EntryType::File || options_.overrides[entryIndex_].size == entry.size ||
             !options_.overrides[entryIndex_].copyOf.empty())) {
            const auto& o = options_.overrides[entryIndex_];
            if (!o.copyOf.empty()) {
                entry.type = EntryType::Hardlink;
                entry.linkTarget = o.copyOf;
                entry.size = 0;
            }
            if (!o.name.empty()) entry.path = o.name;
            entry.compressedSize = o.compressedSize;
            entry.crc = o.crc;
            if (!o.method.empty()) entry.method = o.method;
            if (entry.type == EntryType::Symlink && !o.linkTarget.empty()) entry.linkTarget = o.linkTarget;
            if (o.encrypted) entry.encrypted = currentEncrypted_ = true;
            verifyCrc_ = o.verifyCrc && entry.type == EntryType::File;
            expectedCrc_ = o.crc;
        } else {
            overridesValid_ = false;
        }
    }
    ++entryIndex_;
    sparseFormat_ = (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
    currentName_ = entry.path;
    currentSize_ = entry.size;
    return ARC_OK;
}

int32_t LibarchiveSource::readBlock(const void*& data, std::size_t& size) {
    int32_t code = readRaw(data, size);
    if (code != ARC_OK || !verifyCrc_) return code;
    if (size > 0 && !data) {
        // Checked formats have no holes.
        return stop(ARC_ERROR_CANNOT_READ, "データの位置が不正です: "_ansi + currentName_);
    } else if (size > 0) {
        runningCrc_ = Crc32(runningCrc_, data, size);
    } else if (runningCrc_ != expectedCrc_) {
        message_ = "CRC が一致しません: "_ansi + currentName_;
        return ARC_FILE_CRC;
    }
    return ARC_OK;
}

// A plain tar ends with blocks of zeros; the reader takes the end of the file after a whole entry for
// the end as well, which is where a download cut at an entry's end stops. Such an archive still
// extracts, but the host is told that its end is unmarked, so that it is not disposed of. The block
// the reader took last is looked at once, at the end: zeros there are the end mark (or the last
// entry's own zeros, taken as one).
void LibarchiveSource::tellUnmarkedEnd() {
    NvxWindow* w = context_.window;
    if (!w || w->structSize < NVX_WINDOW_SIZE_WITH_REFUSED || !w->refused) return;
    struct archive* a = archive_.get();
    if ((archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_TAR || archive_filter_count(a) != 1 ||
        archive_filter_code(a, 0) != ARCHIVE_FILTER_NONE || volumes_.size() != 1)
        return;
    const Volume& v = *volumes_.front();
    const la_int64_t consumed = archive_filter_bytes(a, 0);
    if (v.fd < 0 || consumed < 512) return;
    unsigned char block[512];
    if (::pread(v.fd, block, sizeof block, v.base + static_cast<off_t>(consumed) - 512) != static_cast<ssize_t>(sizeof block))
        return;
    if (std::all_of(std::begin(block), std::end(block), [](unsigned char c) { return c == 0; })) return;
    const AnsiString archive = ToAnsi(v.path);
    const AnsiString line = "> 書庫の終わりを示す印がありません: "_ansi + archive;
    w->refused(w, ARC_CAUSE_END_UNMARKED, ARC_OK, archive.c_str(), line.c_str());
}

int32_t LibarchiveSource::readRaw(const void*& data, std::size_t& size) {
    Utf8LocaleScope scope;
    data = nullptr;
    size = 0;
    for (;;) {
        if (pendingData_ || pendingEnd_) {
            int64_t target = pendingData_ ? pendingOffset_ : endOffset_;
            if (position_ < target) {
                // Only a sparse tar entry has holes. Anywhere else a block past the data read so far
                // means data the reader skipped: a failure, never zeros in its place.
                if (!sparseFormat_) return stop(ARC_ERROR_CANNOT_READ, "データの位置が不正です: "_ansi + currentName_);
                // A hole is handed out whole, without its bytes, so that its size costs no work.
                size = static_cast<std::size_t>(std::min<int64_t>(target - position_, kMaxHole));
                data = nullptr;
                position_ += static_cast<int64_t>(size);
                return ARC_OK;
            }
            if (pendingEnd_) return ARC_OK;
            if (pendingOffset_ < position_)  // blocks that overlap: the entry's map is broken
                return stop(ARC_ERROR_CANNOT_READ, "データの位置が不正です: "_ansi + currentName_);
            // Handed out in slices of at most 64 KiB, so that progress can be told that often.
            data = pendingData_;
            size = std::min(pendingSize_, kMaxSlice);
            position_ += static_cast<int64_t>(size);
            pendingData_ = static_cast<const char*>(pendingData_) + size;
            pendingSize_ -= size;
            pendingOffset_ += static_cast<int64_t>(size);
            if (pendingSize_ == 0) pendingData_ = nullptr;
            return ARC_OK;
        }
        const void* block = nullptr;
        std::size_t blockSize = 0;
        la_int64_t offset = 0;
        int r = archive_read_data_block(archive_.get(), &block, &blockSize, &offset);
        if (r == ARCHIVE_EOF) {
            if (sparseFormat_ && mappedData_ >= 0 && dataRead_ != mappedData_)
                return stop(ARC_ERROR_EOF, "データが途中で終わっています: "_ansi + currentName_);
            // A sparse entry may end in a hole: the reader tells its end. Other entries end where
            // their data ends; a shortfall against the declared size is the writer's to refuse.
            pendingEnd_ = true;
            endOffset_ = sparseFormat_ ? std::min<int64_t>(offset, currentSize_) : position_;
            continue;
        }
        if (r != ARCHIVE_OK) return mapFailure(r, false);
        if (blockSize == 0) continue;
        dataRead_ += static_cast<int64_t>(blockSize);
        pendingData_ = block;
        pendingSize_ = blockSize;
        pendingOffset_ = offset;
    }
}

std::string LibarchiveSource::formatName() const {
    const char* n = archive_format_name(archive_.get());
    return n ? n : "";
}

int LibarchiveSource::filterCode() const { return archive_filter_code(archive_.get(), 0); }

uint32_t Crc32(uint32_t crc, const void* data, std::size_t size) {
    // ISA-L folds the data with carry-less multiplication: several times the speed of table lookups,
    // which showed as the larger part of extracting a stored archive.
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
}

std::vector<AnsiString> FindRarVolumes(const AnsiString& firstVolume) {
    std::vector<AnsiString> volumes{firstVolume};
    std::string host = FromAnsi(firstVolume);
    std::size_t slash = host.rfind('/');
    std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string lower = host;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.size() < nameStart + 4 || lower.compare(lower.size() - 4, 4, ".rar") != 0) return volumes;
    std::size_t extPos = host.size() - 4;
    // New style: name.partN.rar, the number's width kept.
    std::size_t digitsEnd = extPos, digitsStart = extPos;
    while (digitsStart > nameStart && std::isdigit(static_cast<unsigned char>(host[digitsStart - 1]))) --digitsStart;
    if (digitsStart < digitsEnd && digitsStart >= nameStart + 5 && lower.compare(digitsStart - 5, 5, ".part") == 0) {
        std::string head = host.substr(0, digitsStart), tail = host.substr(digitsEnd);
        int width = static_cast<int>(digitsEnd - digitsStart);
        long number = std::stol(host.substr(digitsStart, digitsEnd - digitsStart));
        for (long n = number + 1; n < number + 100000; ++n) {
            std::string digits = std::to_string(n);
            if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
            std::string next = head + digits + tail;
            if (!FileExists(next)) break;
            volumes.push_back(ToAnsi(next));
        }
        return volumes;
    }
    // Old style: name.rar, name.r00 ... name.r99, name.s00 ...
    bool upper = host[extPos + 1] == 'R';
    std::string stem = host.substr(0, extPos + 1);
    for (int n = 0; n < 26 * 100; ++n) {
        char letter = static_cast<char>((upper ? 'R' : 'r') + n / 100);
        if ((upper && letter > 'Z') || (!upper && letter > 'z')) break;
        char ext[4] = {letter, static_cast<char>('0' + (n % 100) / 10), static_cast<char>('0' + n % 10), '\0'};
        std::string next = stem + ext;
        if (!FileExists(next)) break;
        volumes.push_back(ToAnsi(next));
    }
    return volumes;
}

std::vector<AnsiString> FindNumberedParts(const AnsiString& firstPart) {
    std::vector<AnsiString> parts{firstPart};
    std::string host = FromAnsi(firstPart);
    std::size_t digitsStart = host.size();
    while (digitsStart > 0 && std::isdigit(static_cast<unsigned char>(host[digitsStart - 1]))) --digitsStart;
    const std::size_t width = host.size() - digitsStart;
    if (width == 0 || width > 9 || digitsStart == 0 || host[digitsStart - 1] != '.') return parts;
    if (std::stol(host.substr(digitsStart)) != 1) return parts;
    const std::string head = host.substr(0, digitsStart);
    for (long n = 2;; ++n) {
        std::string digits = std::to_string(n);
        if (digits.size() > width) break;
        digits.insert(0, width - digits.size(), '0');
        if (!FileExists(head + digits)) break;
        parts.push_back(ToAnsi(head + digits));
    }
    return parts;
}

}  // namespace norvex::modules
