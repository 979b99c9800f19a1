// Temporary folders and whole files.
#pragma once

#include <string>

namespace support {

// A folder that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes a folder and any missing parents (like mkdir -p).
void makeFolders(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

}  // namespace support
