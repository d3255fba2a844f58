// Replacing a file so that a crash or a failure at any moment leaves either the old or the new
// content whole: write a temporary file in the same folder, flush it to disk, rename it over.
#pragma once
#include <string>
#include <string_view>

namespace norvex {

// Writes data to hostPath (host bytes, UTF-8) atomically. A symbolic link at hostPath is followed
// (its target is replaced, the link stays). The new file keeps the old file's permissions, or gets
// 0666 less the umask. On failure returns false, removes the temporary file, leaves the old file
// untouched and puts a reason (UTF-8) into *error when error is not null.
bool WriteFileAtomically(const std::string& hostPath, std::string_view data, std::string* error = nullptr);

// For tests: make the next WriteFileAtomically fail at one step, as a full disk or a broken
// medium would. 0 none, 1 after half the data is written, 2 at the flush, 3 at the rename.
void FailNextAtomicWriteForTesting(int step);

}  // namespace norvex
