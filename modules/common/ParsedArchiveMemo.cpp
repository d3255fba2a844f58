#include "modules/common/ParsedArchiveMemo.h"

#include <cstdlib>

namespace norvex::modules {

FileVersion FileVersion::Of(const struct stat& st) {
    FileVersion id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified = st.st_mtim;
    id.changed = st.st_ctim;
    return id;
}

bool FileVersion::operator==(const FileVersion& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

std::string TimeZoneSetting() {
    std::string zone;
    if (const char* tz = std::getenv("TZ")) zone.append("=").append(tz);
    return zone;
}

}  // namespace norvex::modules
