// SPDX-License-Identifier: MIT
// The rules of drive paths on the host (see drive_paths.h).
#include "platform/posix/drive_paths.h"

#include "platform/kernel.h"
#include "platform/runtime.h"

#include <vector>

namespace platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Where a drive path starts, and what follows.
struct PathStart {
    uint32_t error = NO_ERROR;        // ERROR_PATH_NOT_FOUND: it starts nowhere
    std::optional<std::string> root;  // the host directory; nothing for the current directory
    std::string_view rest;
};

PathStart StartOf(std::string_view dosPath, HostDirectories& host) {
    if (dosPath.empty()) {
        return {ERROR_PATH_NOT_FOUND, std::nullopt, {}};
    }
    if (dosPath.size() >= 2 && IsDriveLetter(dosPath[0]) && dosPath[1] == ':') {
        std::optional<std::string> root = host.driveRoot(ToLower(dosPath[0]));
        return {root ? NO_ERROR : ERROR_PATH_NOT_FOUND, std::move(root), dosPath.substr(2)};
    }
    if (dosPath.size() >= 2 && IsSeparator(dosPath[0]) && IsSeparator(dosPath[1])) {
        return {ERROR_PATH_NOT_FOUND, std::nullopt, {}};  // network paths lead nowhere on this host
    }
    if (IsSeparator(dosPath[0])) {
        std::optional<std::string> root = host.currentDriveRoot();
        return {root ? NO_ERROR : ERROR_PATH_NOT_FOUND, std::move(root), dosPath};
    }
    return {NO_ERROR, std::nullopt, dosPath};
}

// The components of `rest` in the host's encoding, normalised;
// ERROR_INVALID_NAME for a component that no Windows name can be.
uint32_t NormalisedComponents(std::string_view rest, std::vector<std::string>& components) {
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        const std::string_view component = rest.substr(start, end - start);
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != ".") {
            if (!IsValidComponent(component)) {
                return ERROR_INVALID_NAME;
            }
            components.push_back(HostName(component));
        }
        start = end + 1;
    }
    return NO_ERROR;
}

}  // namespace

bool IsValidComponent(std::string_view component) {
    for (char c : component) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*') {
            return false;
        }
    }
    return true;
}

std::string HostName(std::string_view dosComponent) { return TextToUtf8(AnsiToText(dosComponent)); }

Resolution ResolveDrivePath(std::string_view dosPath, HostDirectories& host) {
    PathStart start = StartOf(dosPath, host);
    std::vector<std::string> components;
    const uint32_t error = start.error != NO_ERROR ? start.error : NormalisedComponents(start.rest, components);
    if (error != NO_ERROR) {
        return {error, {}, false};
    }
    Resolution resolution{NO_ERROR, start.root ? std::move(*start.root) : host.currentDirectory(), true};
    for (const auto& component : components) {
        FoundName found = host.find(resolution.host, component);
        resolution.host = std::move(found.path);
        resolution.everyLevelExists = resolution.everyLevelExists && found.exists;
    }
    return resolution;
}

std::optional<std::pair<std::string_view, std::string_view>> DirectoryAndName(std::string_view dosPath) {
    if (dosPath.size() < 2 || !IsDriveLetter(dosPath[0]) || dosPath[1] != ':') {
        return std::nullopt;
    }
    const std::size_t last = dosPath.find_last_of("\\/");
    if (last == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view name = dosPath.substr(last + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    return std::pair{dosPath.substr(0, last), name};
}

}  // namespace platform
