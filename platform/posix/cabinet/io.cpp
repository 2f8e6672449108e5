// The mspack_system of the cabinet service: plain POSIX calls, errno kept,
// entries written only into the file the service opened for them.
#include "platform/posix/cabinet/io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::cabservice {

UniqueFd OpenForReading(const std::string& hostPath, int* error) noexcept {
    // O_NONBLOCK so that opening a pipe cannot wait for a writer; regular
    // files ignore it.
    UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        *error = errno;
        return fd;
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return UniqueFd();
    }
    return fd;
}

CabinetIo::CabinetIo() noexcept {
    table_.system.open = &Open;
    table_.system.close = &Close;
    table_.system.read = &Read;
    table_.system.write = &Write;
    table_.system.seek = &Seek;
    table_.system.tell = &Tell;
    table_.system.message = &Message;
    table_.system.alloc = &Alloc;
    table_.system.free = &Free;
    table_.system.copy = &Copy;
    table_.system.null_ptr = nullptr;
    table_.owner = this;
}

void CabinetIo::armOutput(int fd) noexcept {
    output_.fd = fd;
    outputArmed_ = true;
    result_ = {};
}

OutputResult CabinetIo::disarmOutput() noexcept {
    outputArmed_ = false;
    output_.fd = -1;
    return result_;
}

void CabinetIo::recordFailure(int error, IoOperation operation) noexcept {
    if (failure_.error == 0) {
        failure_ = {error, operation};
    }
}

mspack_file* CabinetIo::Open(mspack_system* self, const char* filename, int mode) noexcept {
    CabinetIo* io = reinterpret_cast<Table*>(self)->owner;
    if (mode == MSPACK_SYS_OPEN_WRITE) {
        if (!io->outputArmed_) {
            io->recordFailure(EBADF, IoOperation::Create);
            return nullptr;
        }
        io->outputArmed_ = false;  // one entry, one open
        return reinterpret_cast<mspack_file*>(&io->output_);
    }
    if (mode != MSPACK_SYS_OPEN_READ) {
        io->recordFailure(EINVAL, IoOperation::Open);
        return nullptr;
    }
    int error = 0;
    UniqueFd fd = OpenForReading(filename, &error);
    if (!fd.valid()) {
        io->recordFailure(error, IoOperation::Open);
        return nullptr;
    }
    auto* handle = new (std::nothrow) Handle{io, fd.get(), false};
    if (handle == nullptr) {
        io->recordFailure(ENOMEM, IoOperation::Open);
        return nullptr;
    }
    fd.release();  // closed in Close()
    return reinterpret_cast<mspack_file*>(handle);
}

void CabinetIo::Close(mspack_file* file) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->output) {
        return;  // the output's descriptor belongs to the service
    }
    ::close(handle->fd);
    delete handle;
}

int CabinetIo::Read(mspack_file* file, void* buffer, int bytes) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->output || bytes < 0) {
        return -1;
    }
    // libmspack takes a short read for the end of the file, so read on
    // until the count is met or the file ends.
    const ssize_t got = ReadFull(handle->fd, buffer, static_cast<std::size_t>(bytes));
    if (got < 0) {
        handle->io->recordFailure(errno, IoOperation::Read);
        return -1;
    }
    return static_cast<int>(got);
}

int CabinetIo::Write(mspack_file* file, void* buffer, int bytes) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || !handle->output || bytes < 0) {
        return -1;
    }
    CabinetIo* io = handle->io;
    // After a failure the entry is lost anyway; only the error counts.
    if (io->result_.writeError == 0) {
        io->result_.writeError = WriteAll(handle->fd, buffer, static_cast<std::size_t>(bytes));
        io->result_.bytesWritten += static_cast<uint64_t>(bytes);
    }
    return bytes;  // see armOutput: a failed entry must not stop the folder
}

int CabinetIo::Seek(mspack_file* file, off_t offset, int mode) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->output) {
        return -1;
    }
    int whence = SEEK_SET;
    switch (mode) {
        case MSPACK_SYS_SEEK_START: whence = SEEK_SET; break;
        case MSPACK_SYS_SEEK_CUR: whence = SEEK_CUR; break;
        case MSPACK_SYS_SEEK_END: whence = SEEK_END; break;
        default: return -1;
    }
    if (lseek(handle->fd, offset, whence) < 0) {
        handle->io->recordFailure(errno, IoOperation::Seek);
        return -1;
    }
    return 0;
}

off_t CabinetIo::Tell(mspack_file* file) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->output) {
        return -1;
    }
    const off_t position = lseek(handle->fd, 0, SEEK_CUR);
    if (position < 0) {
        handle->io->recordFailure(errno, IoOperation::Seek);
    }
    return position;
}

void CabinetIo::Message(mspack_file*, const char*, ...) noexcept {
    // libmspack's warnings ("cabinet version is not 1.3", ...) are not
    // failures; the service reports failures through error codes only.
}

void* CabinetIo::Alloc(mspack_system*, size_t bytes) noexcept { return std::malloc(bytes); }

void CabinetIo::Free(void* pointer) noexcept { std::free(pointer); }

void CabinetIo::Copy(void* source, void* destination, size_t bytes) noexcept {
    std::memmove(destination, source, bytes);
}

}  // namespace platform::cabservice
