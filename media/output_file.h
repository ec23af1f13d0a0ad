// OUTPUT is written under a temporary name beside it and renamed only when
// complete, so that a failed or interrupted run never leaves half a file
// under OUTPUT's name, nor damages a file that was there.
#ifndef DELBRIN_MEDIA_OUTPUT_FILE_H
#define DELBRIN_MEDIA_OUTPUT_FILE_H

#include <string>

// Whether a file name is "-": standard input where a file is read, standard
// output where one is written.
bool IsStandardStream(const std::string& name);

// Whether two names lead to the same file (links included).
bool SameFile(const std::string& a, const std::string& b);

// Creates an empty file beside output, keeping its extension so that the
// container is the same: out.mp4 -> .out.delbrin-XXXXXX.mp4. The finished
// file gets the usual mode (0666 less the umask).
bool MakeTemporaryBeside(const std::string& output, std::string* path);

// When errnoCode is the disk's own refusal to write the file at path (no
// space, quota, file size limit, read-only), says what refused
// and where: "the disk holding /videos (the file system at /videos) is full:
// 0 bytes free". Empty for any other code.
std::string DiskRefusal(const std::string& path, int errnoCode);

#endif
