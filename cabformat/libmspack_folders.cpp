// SPDX-License-Identifier: MIT
// libmspack over the set's byte sources (see libmspack_folders.h). The
// table of host operations (struct mspack_system) reads through the
// sources, keeps the first failed read so that a failure maps to the right
// error, and writes an entry only into the sink armed for it.
//
// Every callback is noexcept and allocates nothing that can throw: no C++
// exception ever crosses libmspack's C frames.
#include "cabformat/libmspack_folders.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mspack.h>
#include <new>
#include <string>

namespace cabformat {

namespace {

// A cabinet as libmspack holds it.
struct Opened {
    std::string name;  // the part's index: libmspack opens the cabinet by it, and keeps a pointer to it
    mscabd_cabinet* cabinet = nullptr;
    bool joinedToPrev = false;  // joined in libmspack to the part before it
    // This cabinet's folders in libmspack by index; the first becomes the
    // folder it was merged into when it continues one from the previous cabinet.
    std::vector<mscabd_folder*> folders;
};

}  // namespace

struct LibmspackFolders::State {
    // What libmspack holds as a struct mspack_file.
    struct Handle {
        State* state;
        ByteSource* source;  // nullptr for the output
        uint64_t position;
    };
    // libmspack hands the table back to open(); `owner` leads from it to us.
    struct Table {
        mspack_system system;
        State* owner;
    };

    explicit State(const std::vector<std::unique_ptr<Part>>& cabinets) : parts(cabinets) {
        table.system = {&Open, &Close, &Read, &Write, &Seek, &Tell, &Message, &Alloc, &Free, &Copy, nullptr};
        table.owner = this;
        decompressor = mspack_create_cab_decompressor(&table.system);
        if (decompressor == nullptr) {
            throw Failure{{Errc::NoMemory}};
        }
    }

    ~State() {
        // Closing a cabinet closes every cabinet joined to it.
        for (const Opened& part : opened) {
            if (part.cabinet != nullptr && !part.joinedToPrev) {
                decompressor->close(decompressor, part.cabinet);
            }
        }
        mspack_destroy_cab_decompressor(decompressor);
    }

    void recordFailure(Error error) noexcept {
        if (failure.ok()) {
            failure = error;
        }
    }

    // The engine's error for a libmspack error number. libmspack reports a
    // failed read and a read cut short by the end of the cabinet alike;
    // only the failure our reads saw tells them apart.
    Error errorOf(int mspackError) const {
        switch (mspackError) {
            case MSPACK_ERR_OPEN:
            case MSPACK_ERR_READ:
            case MSPACK_ERR_SEEK:
            case MSPACK_ERR_WRITE:
                if (!failure.ok()) {
                    return failure;
                }
                return {mspackError == MSPACK_ERR_OPEN    ? Errc::CabinetMissing
                        : mspackError == MSPACK_ERR_WRITE ? Errc::WriteFailed
                                                          : Errc::Truncated};
            case MSPACK_ERR_NOMEMORY: return {Errc::NoMemory};
            case MSPACK_ERR_CHECKSUM: return {Errc::Checksum};
            default:
                // MSPACK_ERR_SIGNATURE, _DATAFORMAT, _DECRUNCH, and _ARGS, which
                // only a malformed set (a merge libmspack refuses) can bring.
                return {Errc::Damaged};
        }
    }

    void open(std::size_t index);
    void join(std::size_t index);

    static mspack_file* Open(mspack_system* self, const char* filename, int mode) noexcept;
    static void Close(mspack_file* file) noexcept;
    static int Read(mspack_file* file, void* buffer, int bytes) noexcept;
    static int Write(mspack_file* file, void* buffer, int bytes) noexcept;
    static int Seek(mspack_file* file, off_t offset, int mode) noexcept;
    static off_t Tell(mspack_file* file) noexcept;
    static void Message(mspack_file*, const char*, ...) noexcept {
        // libmspack's warnings ("cabinet version is not 1.3", ...) are not
        // failures; failures come back as error numbers.
    }
    static void* Alloc(mspack_system*, size_t bytes) noexcept { return std::malloc(bytes); }
    static void Free(void* pointer) noexcept { std::free(pointer); }
    static void Copy(void* source, void* destination, size_t bytes) noexcept {
        std::memmove(destination, source, bytes);
    }
    static Handle* HandleOf(mspack_file* file) noexcept { return reinterpret_cast<Handle*>(file); }

    const std::vector<std::unique_ptr<Part>>& parts;
    Table table{};
    mscab_decompressor* decompressor = nullptr;
    std::deque<Opened> opened;  // by part index; grows without moving what libmspack points into
    Error failure;              // the first failed read since the last clear
    // The entry being written: its sink, armed for one open.
    Handle output{this, nullptr, 0};
    EntrySink* sink = nullptr;
    bool outputArmed = false;
    uint64_t bytesWritten = 0;
    // The failure of the read that broke a folder: libmspack keeps it and
    // answers every later entry of the folder with it, without reading again.
    std::map<const mscabd_folder*, Error> readFaults;
};

mspack_file* LibmspackFolders::State::Open(mspack_system* self, const char* filename, int mode) noexcept {
    State* state = reinterpret_cast<Table*>(self)->owner;
    if (mode == MSPACK_SYS_OPEN_WRITE) {
        if (!state->outputArmed) {
            state->recordFailure({Errc::WriteFailed});
            return nullptr;
        }
        state->outputArmed = false;  // one entry, one open
        return reinterpret_cast<mspack_file*>(&state->output);
    }
    char* end = nullptr;
    const unsigned long index = std::strtoul(filename, &end, 10);
    if (mode != MSPACK_SYS_OPEN_READ || *end != '\0' || index >= state->parts.size()) {
        state->recordFailure({Errc::CabinetMissing});
        return nullptr;
    }
    auto* handle = new (std::nothrow) Handle{state, state->parts[index]->source.get(), 0};
    if (handle == nullptr) {
        state->recordFailure({Errc::NoMemory});
    }
    return reinterpret_cast<mspack_file*>(handle);
}

void LibmspackFolders::State::Close(mspack_file* file) noexcept {
    Handle* handle = HandleOf(file);
    if (handle != nullptr && handle->source != nullptr) {
        delete handle;  // the output's handle belongs to the state
    }
}

int LibmspackFolders::State::Read(mspack_file* file, void* buffer, int bytes) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->source == nullptr || bytes < 0) {
        return -1;
    }
    // libmspack takes a short read for the end of the cabinet, so read on
    // until the count is met or the cabinet ends.
    std::size_t got = 0;
    const auto size = static_cast<std::size_t>(bytes);
    if (const int error =
            ReadAtLeast(*handle->source, handle->position, static_cast<unsigned char*>(buffer), size, size, got);
        error != 0) {
        handle->state->recordFailure({Errc::ReadFailed, error});
        return -1;
    }
    handle->position += got;
    return static_cast<int>(got);
}

int LibmspackFolders::State::Write(mspack_file* file, void* buffer, int bytes) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->source != nullptr || bytes < 0) {
        return -1;
    }
    State* state = handle->state;
    state->sink->write(static_cast<const unsigned char*>(buffer), static_cast<std::size_t>(bytes));
    state->bytesWritten += static_cast<uint64_t>(bytes);
    return bytes;  // a sink that failed keeps its failure; the folder goes on
}

int LibmspackFolders::State::Seek(mspack_file* file, off_t offset, int mode) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->source == nullptr) {
        return -1;
    }
    int64_t from = 0;
    switch (mode) {
        case MSPACK_SYS_SEEK_START: from = 0; break;
        case MSPACK_SYS_SEEK_CUR: from = static_cast<int64_t>(handle->position); break;
        case MSPACK_SYS_SEEK_END: from = static_cast<int64_t>(handle->source->size()); break;
        default: return -1;
    }
    if (from + offset < 0) {
        return -1;
    }
    handle->position = static_cast<uint64_t>(from + offset);
    return 0;
}

off_t LibmspackFolders::State::Tell(mspack_file* file) noexcept {
    Handle* handle = HandleOf(file);
    if (handle == nullptr || handle->source == nullptr) {
        return -1;
    }
    return static_cast<off_t>(handle->position);
}

void LibmspackFolders::State::open(std::size_t index) {
    if (opened.size() < parts.size()) {
        opened.resize(parts.size());
    }
    Opened& part = opened[index];
    if (part.cabinet != nullptr) {
        return;
    }
    part.name = std::to_string(index);
    failure = {};
    mscabd_cabinet* cabinet = decompressor->open(decompressor, part.name.c_str());
    if (cabinet == nullptr) {
        throw Failure{errorOf(decompressor->last_error(decompressor))};
    }
    // libmspack decodes what it read as the folders; any disagreement with
    // ours means a header it does not understand as we do.
    const CabinetHeader& header = parts[index]->header;
    std::vector<mscabd_folder*> folders;
    bool agree = true;
    for (mscabd_folder* folder = cabinet->folders; folder != nullptr && agree; folder = folder->next) {
        const std::size_t at = folders.size();
        agree = at < header.folders.size() && folder->comp_type == header.folders[at].compression &&
                folder->num_blocks == header.folders[at].blockCount;
        folders.push_back(folder);
    }
    if (!agree || folders.size() != header.folders.size()) {
        decompressor->close(decompressor, cabinet);
        throw Failure{{Errc::Damaged}};
    }
    part.folders = std::move(folders);
    part.cabinet = cabinet;
}

void LibmspackFolders::State::join(std::size_t index) {
    Opened& left = opened[index - 1];
    Opened& right = opened[index];
    failure = {};
    const int joined = decompressor->append(decompressor, left.cabinet, right.cabinet);
    if (joined != MSPACK_ERR_OK) {
        throw Failure{errorOf(joined)};
    }
    right.joinedToPrev = true;
    // libmspack merged the right part's first folder into the left part's
    // last and freed it; whoever pointed at it points at the survivor.
    mscabd_folder* freed = right.folders.front();
    mscabd_folder* survivor = left.folders.back();
    for (std::size_t later = index; later < opened.size(); ++later) {
        for (auto& folder : opened[later].folders) {
            if (folder == freed) {
                folder = survivor;
            }
        }
    }
}

LibmspackFolders::LibmspackFolders(const std::vector<std::unique_ptr<Part>>& parts)
    : state_(std::make_unique<State>(parts)) {}

LibmspackFolders::~LibmspackFolders() = default;

Error LibmspackFolders::extract(std::size_t index, const FileRecord& file, const FolderSpan& span, EntrySink& sink) {
    State& state = *state_;
    for (std::size_t opening = span.firstPart; opening <= span.lastPart; ++opening) {
        state.open(opening);
    }
    for (std::size_t joining = span.lastPart; joining > span.firstPart; --joining) {
        if (!state.opened[joining].joinedToPrev) {
            state.join(joining);
        }
    }
    mscabd_folder* folder = state.opened[index].folders[state.parts[index]->header.folderOf(file)];
    if (!sink.open()) {
        return {Errc::WriteFailed};
    }

    std::string name(file.name);  // libmspack wants it writable, for its messages
    mscabd_file entry{};
    entry.filename = name.data();
    entry.length = file.length;
    entry.attribs = file.attribs;
    entry.offset = file.folderOffset;
    entry.folder = folder;

    state.failure = {};
    state.sink = &sink;
    state.outputArmed = true;
    state.bytesWritten = 0;
    const int status = state.decompressor->extract(state.decompressor, &entry, "entry");
    state.outputArmed = false;
    state.sink = nullptr;
    if (status != MSPACK_ERR_OK) {
        if (!state.failure.ok()) {
            const Error error = state.errorOf(status);
            state.readFaults.emplace(folder, error);
            return error;
        }
        const auto fault = state.readFaults.find(folder);
        return status == MSPACK_ERR_READ && fault != state.readFaults.end() ? fault->second : state.errorOf(status);
    }
    if (state.bytesWritten != file.length) {
        return {Errc::Damaged};
    }
    return {};
}

}  // namespace cabformat
