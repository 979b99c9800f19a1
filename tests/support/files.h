// Temporary folders and whole files.
#pragma once

#include <cstddef>
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
// The bytes of a file from offset on (none when it is shorter), and its size.
std::string readBytesFrom(const std::string& path, std::size_t offset);
std::size_t fileSize(const std::string& path);

}  // namespace support
