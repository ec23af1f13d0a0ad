#include "output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>
#include <vector>

bool IsStandardStream(const std::string& name) { return name == "-"; }

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

namespace {

// The directory a file is in, absolute.
std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char real[PATH_MAX];
    return realpath(dir.c_str(), real) ? std::string(real) : dir;
}

// Where the file system holding dir (absolute) is mounted: the highest
// directory above it on the same device.
std::string MountPointOf(const std::string& dir) {
    struct stat st;
    if (dir.empty() || dir[0] != '/' || stat(dir.c_str(), &st) != 0) return dir;
    std::string mount = dir;
    while (mount != "/") {
        const size_t slash = mount.rfind('/');
        const std::string parent = slash == 0 ? "/" : mount.substr(0, slash);
        struct stat up;
        if (stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
        mount = parent;
    }
    return mount;
}

std::string Bytes(unsigned long long n) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    double value = static_cast<double>(n);
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        unit++;
    }
    char text[32];
    snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

}  // namespace

std::string DiskRefusal(const std::string& path, int errnoCode) {
    const std::string dir = DirectoryOf(path);
    const std::string where = "the disk holding " + dir + " (the file system at " + MountPointOf(dir) + ")";
    switch (errnoCode) {
    case ENOSPC: {
        struct statvfs fs;
        if (statvfs(dir.c_str(), &fs) != 0) return where + " is full";
        return where + " is full: " + Bytes(static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize) +
               " free of " + Bytes(static_cast<unsigned long long>(fs.f_blocks) * fs.f_frsize) +
               (fs.f_favail == 0 ? ", and no file entries left" : "");
    }
    case EDQUOT:
        return "your disk quota on " + where + " is used up";
    case EFBIG: {
        struct rlimit limit;
        if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            return "the file outgrew the size limit this process may write (ulimit -f: " +
                   Bytes(static_cast<unsigned long long>(limit.rlim_cur)) + ")";
        return where + " takes no file this large";
    }
    case EROFS:
        return where + " is read-only";
    default:
        return "";
    }
}
