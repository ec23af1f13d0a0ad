#include "output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool MakeTemporaryBeside(const std::string& output, std::string* path) {
    size_t slash = output.rfind('/');
    std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
    std::string name = output.substr(dir.size());
    size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::string stem = name.substr(0, name.size() - extension.size());
    std::string pattern = dir + "." + stem + ".delbrin-XXXXXX" + extension;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemps(buffer.data(), static_cast<int>(extension.size()));
    if (fd < 0) return false;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    *path = buffer.data();
    return true;
}
