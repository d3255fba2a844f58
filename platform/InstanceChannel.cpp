// The sending side of the hand-over (plain POSIX: it runs before the second start creates anything)
// and the wire format both sides share. The receiving side lives with the window (ui/HandOverServer).
#include "platform/InstanceChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "platform/InstanceLock.h"
#include "platform/OwnedFd.h"

namespace norvex {
namespace {

constexpr char kMagic[4] = {'N', 'V', 'X', '1'};
constexpr uint32_t kMaxFields = 64 * 1024;
constexpr uint64_t kMaxBytes = 64ull * 1024 * 1024;

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const std::string& in, std::size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return v;
}

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, MillisLeft(deadline));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

std::string InstanceSocketPath(const std::string& name) {
    std::string path = TInstanceLock::LockFilePath(name);
    const std::string suffix = ".lock";
    if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        path.erase(path.size() - suffix.size());
    return path + ".socket";
}

std::string EncodeHandOver(const THandOver& message) {
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, static_cast<uint32_t>(message.arguments.size() + 1));
    PutU32(out, static_cast<uint32_t>(message.workingFolder.size()));
    out += message.workingFolder;
    for (const std::string& a : message.arguments) {
        PutU32(out, static_cast<uint32_t>(a.size()));
        out += a;
    }
    return out;
}

TDecode DecodeHandOver(const std::string& bytes, THandOver& message) {
    const std::size_t head = std::min(bytes.size(), sizeof kMagic);
    if (std::memcmp(bytes.data(), kMagic, head) != 0) return TDecode::Invalid;
    if (bytes.size() < 8) return TDecode::Incomplete;
    const uint32_t count = GetU32(bytes, 4);
    if (count == 0 || count > kMaxFields) return TDecode::Invalid;
    std::vector<std::string> fields;
    uint64_t total = 0;
    std::size_t at = 8;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes.size() < at + 4) return TDecode::Incomplete;
        const uint32_t length = GetU32(bytes, at);
        total += length;
        if (total > kMaxBytes) return TDecode::Invalid;
        at += 4;
        if (bytes.size() < at + length) return TDecode::Incomplete;
        fields.emplace_back(bytes, at, length);
        at += length;
    }
    if (at != bytes.size()) return TDecode::Invalid;  // one message per connection
    message.workingFolder = std::move(fields.front());
    message.arguments.assign(std::make_move_iterator(fields.begin() + 1), std::make_move_iterator(fields.end()));
    return TDecode::Complete;
}

std::vector<std::string> AbsoluteArguments(const std::vector<std::string>& args, const std::string& folder) {
    std::vector<std::string> out;
    out.reserve(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool isSwitch = i == 0 && (a == "-d" || a == "-t" || a == "-k");
        if (isSwitch || a.empty() || a[0] == '/' || folder.empty()) out.push_back(a);
        else out.push_back(folder + (folder.back() == '/' ? "" : "/") + a);
    }
    return out;
}

TSendResult SendHandOver(const std::string& path, const THandOver& message, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return TSendResult::NoAnswer;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    TOwnedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return TSendResult::NoAnswer;
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return TSendResult::NoAnswer;
    // File names are private: only a listener of this same user gets them.
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != getuid())
        return TSendResult::NoAnswer;

    const std::string bytes = EncodeHandOver(message);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!WaitFor(fd.get(), POLLOUT, deadline)) return TSendResult::NoAnswer;
        const ssize_t n = send(fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return TSendResult::NoAnswer;
        sent += static_cast<std::size_t>(n);
    }
    char answer = 0;
    for (;;) {
        if (!WaitFor(fd.get(), POLLIN, deadline)) return TSendResult::NoAnswer;
        const ssize_t n = recv(fd.get(), &answer, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return TSendResult::NoAnswer;
        break;
    }
    if (answer == kHandOverTaken) return TSendResult::Taken;
    if (answer == kHandOverRefused) return TSendResult::Refused;
    return TSendResult::NoAnswer;
}

TStartRole TakeInstanceOrHandOver(const std::string& name, const THandOver& message, int waitMs,
                                  std::unique_ptr<TInstanceLock>& lock) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    const std::string socketPath = InstanceSocketPath(name);
    for (;;) {
        auto attempt = std::make_unique<TInstanceLock>(name);
        if (attempt->Acquired()) {
            lock = std::move(attempt);
            return TStartRole::Primary;
        }
        attempt.reset();
        if (SendHandOver(socketPath, message, 3000) == TSendResult::Taken) return TStartRole::HandedOver;
        if (Clock::now() >= deadline) return TStartRole::TakenOver;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace norvex
