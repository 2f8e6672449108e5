// Entry names in the ANSI code page, and drive paths split in two.
#include "platform/posix/cabinet/names.h"

#include "platform/posix/cabinet/format.h"
#include "platform/runtime.h"

namespace platform::cabservice {

std::string AnsiEntryName(std::string_view storedName, uint16_t attribs) {
    if (attribs & format::kAttribUtf8Name) {
        return TextToAnsi(Utf8ToText(storedName));
    }
    return std::string(storedName);
}

DosPathParts SplitDosPath(std::string_view dosPath) {
    const std::size_t last = dosPath.find_last_of("\\/");
    if (last == std::string_view::npos) {
        return {"", std::string(dosPath)};
    }
    return {std::string(dosPath.substr(0, last + 1)), std::string(dosPath.substr(last + 1))};
}

std::string WithTrailingSeparator(std::string folder) {
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) {
        folder += '\\';
    }
    return folder;
}

}  // namespace platform::cabservice
