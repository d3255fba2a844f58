// libarchive behind the ArchiveSource contract: names in cp932, failures as the family's codes.
#include "modules/common/LibarchiveSource.h"

#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <locale.h>
#include <sys/stat.h>

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

const char kZeros[64 * 1024] = {};

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

LibarchiveSource::~LibarchiveSource() = default;

int32_t LibarchiveSource::Open(const AnsiString& path, const LibarchiveOptions& options, const SourceContext& context,
                               std::unique_ptr<LibarchiveSource>& out) {
    Utf8LocaleScope scope;
    std::unique_ptr<LibarchiveSource> s(new LibarchiveSource);
    s->options_ = options;
    s->context_ = context;
    const std::vector<AnsiString>& volumes = options.volumes.empty() ? std::vector<AnsiString>{path} : options.volumes;
    for (const AnsiString& v : volumes) s->volumeNames_.push_back(FromAnsi(v));
    for (const std::string& v : s->volumeNames_) s->volumePointers_.push_back(v.c_str());
    s->volumePointers_.push_back(nullptr);
    if (!FileExists(s->volumeNames_.front())) return ARC_ERROR_NOT_FIND_ARC_FILE;

    struct archive* a = archive_read_new();
    if (!a) return ARC_ERROR_ENOUGH_MEMORY;
    s->archive_.reset(a);
    uint32_t f = options.formats;
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
    std::string charsetOption = "hdrcharset=" + options.headerCharset;
    archive_read_set_options(a, charsetOption.c_str());
    archive_read_set_passphrase_callback(a, s.get(), &LibarchiveSource::PassphraseCallback);
    if (archive_read_open_filenames(a, s->volumePointers_.data(), 64 * 1024) != ARCHIVE_OK) {
        const char* why = archive_error_string(a);
        s->message_ = ToAnsi(why ? why : "");
        return ARC_ERROR_ARC_FILE_OPEN;
    }
    out = std::move(s);
    return ARC_OK;
}

const char* LibarchiveSource::PassphraseCallback(struct archive*, void* self) {
    auto* s = static_cast<LibarchiveSource*>(self);
    NvxWindow* w = s->context_.window;
    if (!w || !w->ask || s->passwordAsks_ >= 3) return nullptr;
    ++s->passwordAsks_;
    char buffer[256] = {};
    static const AnsiString caption = "パスワード入力"_ansi;
    int32_t answer = w->ask(w, ARC_ASK_PASSWORD, caption.c_str(), s->currentName_.c_str(), buffer, sizeof buffer);
    if (answer != ARC_ANSWER_YES) {
        s->passwordAsks_ = 3;  // the user gave none: stop asking for this entry
        return nullptr;
    }
    buffer[sizeof buffer - 1] = '\0';
    s->password_ = buffer;
    return s->password_.c_str();
}

int32_t LibarchiveSource::mapFailure(int status, bool header) {
    struct archive* a = archive_.get();
    const char* why = archive_error_string(a);
    std::string text = why ? why : "";
    message_ = ToAnsi(text);
    if (status == ARCHIVE_FATAL) fatal_ = true;
    if (archive_errno(a) == ENOMEM) return ARC_ERROR_ENOUGH_MEMORY;
    if (Contains(text, "passphrase") || Contains(text, "encrypt") || Contains(text, "decryption"))
        return ARC_PASSWORD_FILE;
    if (Contains(text, "crc") || Contains(text, "checksum")) {
        if (header) return ARC_ERROR_HEADER_CRC;
        // A wrong password can slip past the one-byte check of the old ZIP encryption.
        return currentEncrypted_ ? ARC_PASSWORD_FILE : ARC_FILE_CRC;
    }
    if (Contains(text, "unsupported") || Contains(text, "not supported") || Contains(text, "unknown compression") ||
        Contains(text, "compression method"))
        return ARC_METHOD;
    if (header && firstHeader_) return ARC_ERROR_NOT_ARC_FILE;
    if (Contains(text, "truncated") || Contains(text, "premature") || Contains(text, "unexpected end"))
        return ARC_ERROR_EOF;
    if (header) return ARC_ERROR_HEADER_BROKEN;
    if (currentEncrypted_) return ARC_PASSWORD_FILE;
    return ARC_ERROR_CANNOT_READ;
}

int32_t LibarchiveSource::nextEntry(EntryInfo& entry) {
    Utf8LocaleScope scope;
    struct archive* a = archive_.get();
    struct archive_entry* e = nullptr;
    int r = archive_read_next_header(a, &e);
    if (r == ARCHIVE_EOF) {
        if (firstHeader_) {
            // An archive without entries is still an archive, but a file no reader knows is not.
            if (archive_format(a) == 0) return ARC_ERROR_NOT_ARC_FILE;
        }
        return ARC_FIND_END;
    }
    if (r < ARCHIVE_WARN || !e) {
        int32_t code = mapFailure(r, true);
        fatal_ = true;
        firstHeader_ = false;
        return code;
    }
    firstHeader_ = false;
    passwordAsks_ = 0;
    position_ = 0;
    pendingEnd_ = false;
    pendingData_ = nullptr;
    pendingSize_ = 0;

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
    if (archive_entry_atime_is_set(e)) {
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
            (entry.type != EntryType::File || options_.overrides[entryIndex_].size == entry.size)) {
            const auto& o = options_.overrides[entryIndex_];
            if (!o.name.empty()) entry.path = o.name;
            entry.compressedSize = o.compressedSize;
            entry.crc = o.crc;
            if (!o.method.empty()) entry.method = o.method;
        } else {
            overridesValid_ = false;
        }
    }
    ++entryIndex_;
    currentName_ = entry.path;
    currentSize_ = entry.size;
    return ARC_OK;
}

int32_t LibarchiveSource::readBlock(const void*& data, std::size_t& size) {
    Utf8LocaleScope scope;
    data = nullptr;
    size = 0;
    for (;;) {
        if (pendingData_ || pendingEnd_) {
            int64_t target = pendingData_ ? pendingOffset_ : currentSize_;
            if (position_ < target) {  // a hole of a sparse entry
                size = static_cast<std::size_t>(std::min<int64_t>(target - position_, sizeof kZeros));
                data = kZeros;
                position_ += static_cast<int64_t>(size);
                return ARC_OK;
            }
            if (pendingEnd_) return ARC_OK;
            data = pendingData_;
            size = pendingSize_;
            position_ += static_cast<int64_t>(size);
            pendingData_ = nullptr;
            return ARC_OK;
        }
        const void* block = nullptr;
        std::size_t blockSize = 0;
        la_int64_t offset = 0;
        int r = archive_read_data_block(archive_.get(), &block, &blockSize, &offset);
        if (r == ARCHIVE_EOF) {
            pendingEnd_ = true;
            continue;
        }
        if (r != ARCHIVE_OK) return mapFailure(r, false);
        if (blockSize == 0) continue;
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

}  // namespace norvex::modules
