// The table of host operations (struct mspack_system) through which
// libmspack reads cabinets and writes entries. It keeps the errno of the
// first failed host call, so a failure maps to the right Win32 code, and it
// writes entries only into a file the service has opened beforehand.
//
// Every callback is noexcept and allocates nothing that can throw: no C++
// exception ever crosses libmspack's C frames.
#pragma once

#include "platform/posix/cabinet/win32_codes.h"
#include "platform/posix/host_io.h"

#include <cstdint>
#include <mspack.h>
#include <string>

namespace platform::cabservice {

// Opens a cabinet file for reading. Returns the descriptor, or none with
// *error set: the open's errno, EISDIR for a folder, EINVAL for anything
// else that is not a regular file (a pipe could block a read forever).
UniqueFd OpenForReading(const std::string& hostPath, int* error) noexcept;

// What happened to the bytes of one entry.
struct OutputResult {
    int writeError = 0;  // errno of the first failed write; 0 when all were written
    uint64_t bytesWritten = 0;
};

class CabinetIo {
public:
    CabinetIo() noexcept;
    CabinetIo(const CabinetIo&) = delete;
    CabinetIo& operator=(const CabinetIo&) = delete;

    // The table to hand to mspack_create_cab_decompressor. It refers to this
    // object, which must outlive the decompressor.
    mspack_system* system() noexcept { return &table_.system; }

    // The first failure of an open, read or seek since the last clear.
    void clearFailure() noexcept { failure_ = {}; }
    const IoFailure& failure() const noexcept { return failure_; }

    // Makes the next open for writing hand libmspack the open descriptor
    // `fd` (the file name libmspack passes is not used); the descriptor stays
    // the caller's. A failed write is recorded, and its bytes and those of
    // every later write are dropped while libmspack is told they were
    // written: the decompressor keeps its place in the folder instead of a
    // sticky write error that would fail every later entry of the folder.
    void armOutput(int fd) noexcept;
    // Ends the output armed last and tells what happened to its bytes.
    OutputResult disarmOutput() noexcept;

private:
    // What libmspack holds as a struct mspack_file.
    struct Handle {
        CabinetIo* io;
        int fd;
        bool output;
    };
    // libmspack hands the table back to open(); `owner` leads from it to us.
    struct Table {
        mspack_system system;
        CabinetIo* owner;
    };

    static mspack_file* Open(mspack_system* self, const char* filename, int mode) noexcept;
    static void Close(mspack_file* file) noexcept;
    static int Read(mspack_file* file, void* buffer, int bytes) noexcept;
    static int Write(mspack_file* file, void* buffer, int bytes) noexcept;
    static int Seek(mspack_file* file, off_t offset, int mode) noexcept;
    static off_t Tell(mspack_file* file) noexcept;
    static void Message(mspack_file* file, const char* format, ...) noexcept;
    static void* Alloc(mspack_system* self, size_t bytes) noexcept;
    static void Free(void* pointer) noexcept;
    static void Copy(void* source, void* destination, size_t bytes) noexcept;

    static Handle* HandleOf(mspack_file* file) noexcept { return reinterpret_cast<Handle*>(file); }
    void recordFailure(int error, IoOperation operation) noexcept;

    Table table_;
    Handle output_{this, -1, true};
    bool outputArmed_ = false;
    OutputResult result_;
    IoFailure failure_;
};

}  // namespace platform::cabservice
