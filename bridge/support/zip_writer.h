// A zip file from named byte strings, through libzip.
#pragma once

#include <string>
#include <vector>

namespace taltrix::support {

struct BundleFile {
    std::string name;  // path inside the zip, "/" between folders
    std::string bytes;
};

// Writes `files` to a new zip at `path`, replacing any file there. False,
// with `error` set, when the zip cannot be made; no half-written zip is left.
bool writeZip(const std::string& path, const std::vector<BundleFile>& files, std::string& error);

}  // namespace taltrix::support
