// Decodes a gzip file with zlib only to compare each member's trailer; the data itself is dropped.
#include "modules/tar32/GzipCheck.h"

#include <unistd.h>
#include <zlib.h>

#include <vector>

#include "modules/common/RegularFile.h"

namespace norvex::modules {

GzipCheck CheckGzipStream(const std::string& hostPath) {
    const int fd = OpenRegularFile(hostPath);
    if (fd < 0) return GzipCheck::NotGzip;
    unsigned char magic[2] = {0, 0};
    if (::pread(fd, magic, 2, 0) != 2 || magic[0] != 0x1f || magic[1] != 0x8b) {
        ::close(fd);
        return GzipCheck::NotGzip;
    }
    gzFile gz = gzdopen(fd, "rb");  // owns fd from here on
    if (!gz) {
        ::close(fd);
        return GzipCheck::Damaged;
    }
    gzbuffer(gz, 256 * 1024);
    std::vector<unsigned char> sink(256 * 1024);
    int got = 0;
    while ((got = gzread(gz, sink.data(), static_cast<unsigned>(sink.size()))) > 0) {
    }
    int error = Z_OK;
    gzerror(gz, &error);
    gzclose(gz);
    // gzread reports a wrong CRC or length, bad data and a stream cut short (Z_BUF_ERROR) alike.
    return got == 0 && error == Z_OK ? GzipCheck::Whole : GzipCheck::Damaged;
}

}  // namespace norvex::modules
