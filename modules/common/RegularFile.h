// Opening an archive for reading without ever blocking: only regular files are opened, and the open
// itself cannot wait on a fifo or a device. Reading at an offset, whole. Finding a signature behind a
// self-extracting stub.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace norvex::modules {

// The descriptor of hostPath (UTF-8) opened read-only, or -1 (errno set; EINVAL when it is not a
// regular file). The open uses O_NONBLOCK, so a fifo or a device is refused without waiting. info,
// when given, receives the status of the file opened.
int OpenRegularFile(const std::string& hostPath, struct stat* info = nullptr);
// The same as a stdio stream ("rb"), or nullptr.
std::FILE* OpenRegularStream(const std::string& hostPath);

// Reads size bytes at offset of fd, whole (retried after an interruption or a short read); false when
// the file ends first or a read fails.
bool ReadFullyAt(int fd, void* buffer, std::size_t size, uint64_t offset);

// How far into a file a self-extracting stub may put the archive.
constexpr uint64_t kMaxStubSize = 1 << 20;

// The offset of the first place in the first kMaxStubSize bytes of fd (from its start) where
// signature occurs and accept(bytes at that place, bytes available) agrees; -1 when there is none.
// accept may be empty.
int64_t FindSignature(int fd, std::string_view signature,
                      bool (*accept)(const unsigned char* at, std::size_t available) = nullptr);

}  // namespace norvex::modules
