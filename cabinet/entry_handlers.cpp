// SPDX-License-Identifier: MIT
// CabFile's handling of a walk's notifications: the dispatcher and one
// handler per operation that looks at entries.
#include "cabinet/cab_file.h"
#include "cabinet/callback.h"
#include "cabinet/conversions.h"
#include "cabinet/errors.h"
#include "cabinet/paths.h"
#include "cabinet/xml.h"
#include "platform/kernel.h"
#include "platform/runtime.h"
#include "platform/walk.h"

namespace cabinet {

namespace {

constexpr char16_t kSourceCabCallBack[] = u"CabFile.CabCallBack";

// An entry's name, whole and split at its last '\\' as SplitPath splits it;
// the parts are views into the whole, so a listing makes no copies of them.
class EntryName {
public:
    explicit EntryName(const platform::FILE_IN_CABINET_INFO_A& info)
        : full(conversions::AnsiPointerToString(info.NameInCabinet)), cut_(full.rfind(u'\\') + 1) {}  // 0: no '\\'
    EntryName(const EntryName&) = delete;
    EntryName& operator=(const EntryName&) = delete;

    // Up to and including the last '\\', or empty; and the rest.
    std::u16string_view directory() const { return std::u16string_view(full).substr(0, cut_); }
    std::u16string_view last() const { return std::u16string_view(full).substr(cut_); }

    const std::u16string full;

private:
    std::size_t cut_;
};

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A stored name that would lead out of the output directory: rooted, holding a
// drive or stream colon, or with a component made only of dots and spaces
// ("..", ". ."), under either separator, since the file system takes both.
bool LeavesOutputDirectory(const std::u16string& name) {
    if (name.empty()) {
        return false;
    }
    if (IsSeparator(name.front()) || name.find(u':') != std::u16string::npos) {
        return true;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        const std::u16string_view component(name.data() + start, end - start);
        if (!component.empty() && component.find_first_not_of(u". ") == std::u16string_view::npos) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

uint32_t CabFile::CabCallBack(int32_t Mode, uint32_t Notification, uintptr_t Param1, uintptr_t /*Param2*/) {
    try {
        switch (Notification) {
            case platform::SPFILENOTIFY_FILEINCABINET: {
                auto& info = *reinterpret_cast<platform::FILE_IN_CABINET_INFO_A*>(Param1);
                switch (static_cast<IterationMode>(Mode)) {
                    case IterationMode::ModeCount: ++filesCounted_; return platform::FILEOP_SKIP;
                    case IterationMode::ModeInfo: return InfoCallBack(info);
                    case IterationMode::ModeExtract: return ExtractCallBack(info);
                    case IterationMode::ModeXml: return XmlCallBack(info);
                }
                return platform::FILEOP_ABORT;
            }
            case platform::SPFILENOTIFY_NEEDNEWCABINET: return platform::NO_ERROR;
            case platform::SPFILENOTIFY_FILEEXTRACTED: {
                const platform::FILEPATHS_A paths = *reinterpret_cast<const platform::FILEPATHS_A*>(Param1);
                if (paths.Win32Error == platform::NO_ERROR) {
                    AfterExtract.Raise(conversions::AnsiPointerToString(paths.Target));
                }
                return paths.Win32Error;
            }
            default: return 0;
        }
    } catch (const platform::RaisedError& error) {
        throw error.WithSource(kSourceCabCallBack);
    }
}

// A look-up by name ends the walk at its match; a listing of every entry
// skips each one and goes on.
uint32_t CabFile::AnswerAfterLookUp(bool matched) const {
    return matched && !fileToMatch_.empty() ? platform::FILEOP_ABORT : platform::FILEOP_SKIP;
}

bool CabFile::Matches(std::u16string_view comparedName) const {
    return fileToMatch_.empty() || platform::TextEqualsIgnoreCase(fileToMatch_, comparedName);
}

std::u16string CabFile::BuildTargetPath(const std::u16string& nameInCabinet) const {
    return conversions::BuildTargetPath(cabName_, extractPath_, extractFile_, nameInCabinet);
}

uint32_t CabFile::InfoCallBack(const platform::FILE_IN_CABINET_INFO_A& info) {
    const EntryName entry(info);
    const bool matched = Matches(entry.full);
    if (matched) {
        Callback::EntryDates unwalked;  // a handler called outside a walk
        Callback::EntryDates& dates = walk_ != nullptr ? walk_->dates : unwalked;
        FileFound.Raise(std::u16string(entry.last()), dates.value(info.DosDate, info.DosTime),
                        static_cast<int32_t>(info.FileSize), std::u16string(entry.directory()));
    }
    return AnswerAfterLookUp(matched);
}

uint32_t CabFile::XmlCallBack(const platform::FILE_IN_CABINET_INFO_A& info) {
    const EntryName entry(info);
    const bool matched = Matches(entry.last());
    if (matched) {
        Callback::EntryDates unwalked;
        Callback::EntryDates& dates = walk_ != nullptr ? walk_->dates : unwalked;
        AppendFileElement(xmlText_, entry.full, entry.last(), dates.text(dates.value(info.DosDate, info.DosTime)),
                          static_cast<int32_t>(info.FileSize), entry.directory());
    }
    return AnswerAfterLookUp(matched);
}

uint32_t CabFile::ExtractCallBack(platform::FILE_IN_CABINET_INFO_A& info) {
    const std::u16string fullName = conversions::AnsiPointerToString(info.NameInCabinet);
    if (!Matches(fullName)) {
        return platform::FILEOP_SKIP;
    }
    bool cancel = false;
    BeforeExtract.Raise(fullName, cancel);
    if (cancel) {
        return platform::FILEOP_SKIP;
    }
    if (extractFile_.empty() && LeavesOutputDirectory(fullName)) {
        const auto code = static_cast<int32_t>(platform::ERROR_INVALID_NAME);
        throw platform::RaisedError(code, u"CabFile", Win32ErrorText(code));
    }
    const std::u16string target = BuildTargetPath(fullName);
    std::u16string directory;
    std::u16string file;
    paths::SplitPath(target, directory, file);
    // A directory made or found in this walk is not tried again: entries
    // come by the thousand into a few directories.
    if (!platform::WalkHasDirectory(directory)) {
        std::u16string made = directory;
        if (!paths::MakeDirectoryTree(made)) {
            // Skipping the entry would let the extraction, and an install
            // built on it, report success with files missing (a full disk, a
            // drive that is not there): raise what kept the directory from being
            // made.
            const auto code = static_cast<int32_t>(platform::GetLastError());
            throw platform::RaisedError(code, u"CabFile", Win32ErrorText(code));
        }
        platform::NoteWalkDirectory(directory);
    }
    conversions::StringToAnsiBuffer(info.FullTargetName, target);
    return platform::FILEOP_DOIT;
}

}  // namespace cabinet
