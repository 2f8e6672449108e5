// SPDX-License-Identifier: MIT
// The host files the cabinet engine works through on Linux.
#include "platform/posix/engine_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

namespace {

// Bytes read back at a time when a spill moves to the next store.
constexpr std::size_t kSpillMoveBuffer = 1 << 20;

std::function<void()> g_spillExhausted;

// An unnamed file in `directory`: O_TMPFILE, else a named one unlinked at once.
std::unique_ptr<cabformat::SpillStore> SpillFileIn(const std::string& directory) {
    UniqueFd fd(::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd.valid()) {
        std::string name = JoinHostPath(directory, "varnholt-spill-XXXXXX");
        fd.reset(::mkostemp(name.data(), O_CLOEXEC));
        if (!fd.valid()) {
            return nullptr;
        }
        ::unlink(name.c_str());
    }
    return std::make_unique<SpillFile>(std::move(fd));
}

class SpillMemory final : public cabformat::SpillStore {
public:
    int append(const unsigned char* bytes, std::size_t size) override {
        if (bytes_.size() + size > kSpillMemoryBound) {
            return ENOSPC;
        }
        bytes_.insert(bytes_.end(), bytes, bytes + size);
        return 0;
    }
    int readAt(uint64_t offset, unsigned char* into, std::size_t size) override {
        if (offset + size > bytes_.size()) {
            return EINVAL;
        }
        std::memcpy(into, bytes_.data() + offset, size);
        return 0;
    }

private:
    std::vector<unsigned char> bytes_;
};

// The stores tried in turn: when one cannot be made, or fills or fails, what
// it holds moves to the next, and the walk never sees the change.
class SpillChain final : public cabformat::SpillStore {
public:
    explicit SpillChain(std::vector<std::function<std::unique_ptr<cabformat::SpillStore>()>> makers)
        : makers_(std::move(makers)) {}

    int append(const unsigned char* bytes, std::size_t size) override {
        int error = ENOSPC;
        while (current_ || advance()) {
            error = current_->append(bytes, size);
            if (error == 0) {
                size_ += size;
                return 0;
            }
            if (!advance()) {
                break;
            }
        }
        if (!exhausted_) {
            exhausted_ = true;
            if (g_spillExhausted) {
                g_spillExhausted();
            }
        }
        return error;
    }
    int readAt(uint64_t offset, unsigned char* into, std::size_t size) override {
        return current_ ? current_->readAt(offset, into, size) : EINVAL;
    }

private:
    // Moves to the next store that can be made and takes what the current
    // one holds; false when none is left.
    bool advance() {
        while (next_ < makers_.size()) {
            std::unique_ptr<cabformat::SpillStore> store = makers_[next_++]();
            if (store && (!current_ || move(*store))) {
                current_ = std::move(store);
                return true;
            }
        }
        current_.reset();
        return false;
    }
    bool move(cabformat::SpillStore& to) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<uint64_t>(size_, kSpillMoveBuffer)));
        for (uint64_t at = 0; at < size_;) {
            const auto take = static_cast<std::size_t>(std::min<uint64_t>(size_ - at, buffer.size()));
            if (current_->readAt(at, buffer.data(), take) != 0 || to.append(buffer.data(), take) != 0) {
                return false;
            }
            at += take;
        }
        return true;
    }

    std::vector<std::function<std::unique_ptr<cabformat::SpillStore>()>> makers_;
    std::size_t next_ = 0;
    std::unique_ptr<cabformat::SpillStore> current_;
    uint64_t size_ = 0;
    bool exhausted_ = false;
};

}  // namespace

std::unique_ptr<cabformat::SpillStore> MakeSpillFile(const std::string& nearDirectory) {
    const char* directory = std::getenv("TMPDIR");
    const std::string temporary = directory != nullptr && *directory != '\0' ? directory : "/tmp";
    std::vector<std::function<std::unique_ptr<cabformat::SpillStore>()>> makers;
    makers.emplace_back([temporary] { return SpillFileIn(temporary); });
    if (!nearDirectory.empty()) {
        makers.emplace_back([nearDirectory] { return SpillFileIn(nearDirectory); });
    }
    makers.emplace_back([] { return std::make_unique<SpillMemory>(); });
    return std::make_unique<SpillChain>(std::move(makers));
}

void OnSpillExhausted(std::function<void()> notice) { g_spillExhausted = std::move(notice); }

}  // namespace platform
