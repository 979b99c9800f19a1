#include "support/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace support {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/line_player.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    // Removes what it can: a file that will not go must not stop the rest.
    const auto removeOne = [](const char* path, const struct stat*, int, struct FTW*) {
        std::remove(path);
        return 0;
    };
    nftw(path_.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

void makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readBytesFrom(const std::string& path, std::size_t offset)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::ostringstream rest;
    if (in)
        rest << in.rdbuf();
    return rest.str();
}

std::size_t fileSize(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<std::size_t>(status.st_size) : 0;
}

std::string readBytes(const std::string& path)
{
    return readBytesFrom(path, 0);
}

}  // namespace support
