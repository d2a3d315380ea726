// Whole-file reads and writes that never leave a partial file behind.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kvecli {

// Throws an I/O failure naming the file and the reason.
std::vector<unsigned char> ReadWholeFile(const std::string &path);

// Writes to a temporary name in the same folder and renames it over `path`
// once complete; on any failure the temporary file is removed and an I/O
// failure thrown, so `path` is either the whole new file or untouched.
void WriteFileAtomically(const std::string &path, std::span<const unsigned char> bytes);

}  // namespace kvecli
