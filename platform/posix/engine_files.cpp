// The host files the cabinet engine works through on Linux.
#include "platform/posix/engine_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

class SpillFile final : public cabformat::SpillStore {
public:
    explicit SpillFile(UniqueFd fd) : fd_(std::move(fd)) {}

    int append(const unsigned char* bytes, std::size_t size) override {
        const int error = WriteAll(fd_.get(), bytes, size);
        size_ += error == 0 ? size : 0;
        return error;
    }
    int readAt(uint64_t offset, unsigned char* into, std::size_t size) override {
        if (offset + size > size_) {
            return EINVAL;
        }
        const ssize_t read = ReadAtLeast(fd_.get(), into, size, size, static_cast<off_t>(offset));
        return read < 0 ? errno : static_cast<std::size_t>(read) < size ? EIO : 0;
    }

private:
    UniqueFd fd_;
    uint64_t size_ = 0;
};

}  // namespace

int HostFile::readAt(uint64_t offset, unsigned char* into, std::size_t size, std::size_t& got) {
    const ssize_t read = ReadAtLeast(fd_.get(), into, 1, size, static_cast<off_t>(offset));
    got = read < 0 ? 0 : static_cast<std::size_t>(read);
    return read < 0 ? errno : 0;
}

std::unique_ptr<cabformat::SpillStore> MakeSpillFile() {
    const char* folder = std::getenv("TMPDIR");
    const std::string where = folder != nullptr && *folder != '\0' ? folder : "/tmp";
    UniqueFd fd(::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd.valid()) {
        // A file system without O_TMPFILE: a named file, unlinked at once.
        std::string name = JoinHostPath(where, "varnholt-spill-XXXXXX");
        fd.reset(::mkostemp(name.data(), O_CLOEXEC));
        if (!fd.valid()) {
            return nullptr;
        }
        ::unlink(name.c_str());
    }
    return std::make_unique<SpillFile>(std::move(fd));
}

}  // namespace platform
