// A FUSE file system whose statfs does not answer until a file appears: a dead network
// mount that the test can bring back. Usage: stuck_fs RELEASE-FILE -f -s MOUNTPOINT.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const char* release = nullptr;

int getattr(const char* path, struct stat* st, fuse_file_info*) {
    if (std::strcmp(path, "/") != 0) return -ENOENT;
    *st = {};
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
}

int statfs(const char*, struct statvfs* out) {
    // Bounded, so that a test that dies never leaves it waiting for ever.
    for (int i = 0; i < 6000 && ::access(release, F_OK) != 0; ++i) ::usleep(10'000);
    *out = {};
    out->f_bsize = out->f_frsize = 4096;
    out->f_blocks = 1000;
    out->f_bfree = 500;
    out->f_bavail = 400;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    release = argv[1];
    fuse_operations ops{};
    ops.getattr = getattr;
    ops.statfs = statfs;
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &ops, nullptr);
}
