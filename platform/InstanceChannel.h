// The hand-over between two starts of Norvex: a per-user local socket beside the instance lock.
// A start that finds the lock held sends its working folder and its arguments (the host's bytes, as
// typed) to the running instance and ends once that instance has taken them. When nobody answers,
// the new start takes the instance over.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace norvex {

// The socket: $XDG_RUNTIME_DIR/NAME.socket, else /tmp/NAME-UID.socket (beside the lock file).
std::string InstanceSocketPath(const std::string& name);

// One hand-over: the sender's working folder and its arguments, each a byte string.
struct THandOver {
    std::string workingFolder;
    std::vector<std::string> arguments;
    bool operator==(const THandOver&) const = default;
};

// Wire format: "NVX1", then a 32-bit count of fields, then per field a 32-bit length and its bytes
// (little-endian); the first field is the working folder. The receiver answers one byte: kHandOverTaken
// when it has the files, kHandOverRefused when it is closing (the sender then tries again).
std::string EncodeHandOver(const THandOver& message);
enum class TDecode { Complete, Incomplete, Invalid };
// Decodes the bytes received so far. Sizes are capped (64 Ki fields, 64 MiB in all) so that a stray
// writer cannot make the receiver hold without bound.
TDecode DecodeHandOver(const std::string& bytes, THandOver& message);
inline constexpr char kHandOverTaken = 0x06;
inline constexpr char kHandOverRefused = 0x15;

// Arguments made absolute against folder, so that the receiver, which runs elsewhere, finds the same
// files. The leading switch ("-d", "-t", "-k") stays as it is.
std::vector<std::string> AbsoluteArguments(const std::vector<std::string>& args, const std::string& folder);

enum class TSendResult {
    Taken,     // the running instance has the files
    Refused,   // it answered that it is closing
    NoAnswer,  // nobody listens, the listener is another user, or it did not answer in time
};
// Connects to the socket at path, sends message and waits up to timeoutMs for the answer. A socket
// whose owner is not this user is never written to.
TSendResult SendHandOver(const std::string& path, const THandOver& message, int timeoutMs);

// How this start goes on.
enum class TStartRole {
    Primary,     // it holds the lock: it runs the window and listens on the socket
    HandedOver,  // a running instance took the arguments: end at once
    TakenOver,   // the lock is held by a process that does not answer: run anyway and listen
};

class TInstanceLock;

// Takes the lock named name (kept in lock on success) or hands the arguments over to the running
// instance. For up to waitMs it retries both, so that an instance that is still starting (lock taken,
// socket not yet listening) or already ending (socket closed, lock not yet free) is waited for.
TStartRole TakeInstanceOrHandOver(const std::string& name, const THandOver& message, int waitMs,
                                  std::unique_ptr<TInstanceLock>& lock);

}  // namespace norvex
