// A test that needs a file system of its own (a small disk that fills up, a second volume): a child
// process mounts a memory file system in a mount namespace of its own and runs the test's body there.
#pragma once
#include <functional>
#include <optional>
#include <string>

namespace norvex::test {

// Mounts a tmpfs with options (such as "size=1m") on the existing folder mountPoint, in a child
// process and a mount namespace of its own, and runs body there. Returns what body returned (the
// failures it found, "" when none; a body that ends the child otherwise gives a line saying so), or
// nullopt when the file system cannot be mounted here (no privilege): the caller skips then.
std::optional<std::string> InOwnMemoryFileSystem(const std::string& mountPoint, const std::string& options,
                                                 const std::function<std::string()>& body);

}  // namespace norvex::test
