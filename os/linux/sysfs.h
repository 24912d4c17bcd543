// Small readers for sysfs trees (real or a test's fake). Plain POSIX, so no
// standard-library template leaks into the shared library's export table.
#pragma once

#include <string>
#include <vector>

namespace vek::os::sysfs {

// Names in the directory, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> Entries(const std::string& dir);
// The file's first line without surrounding blanks; empty when unreadable.
std::string FirstLine(const std::string& file);
bool Exists(const std::string& path);

} // namespace vek::os::sysfs
