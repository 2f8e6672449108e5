// SPDX-License-Identifier: MIT
// The path routines; see paths.h.
#include "cabinet/paths.h"

#include "platform/kernel.h"
#include "platform/runtime.h"

#include <vector>

namespace cabinet::paths {

namespace {

constexpr char16_t kSeparator = u'\\';

platform::DirectoryOutcome CreateLevel(const std::u16string& directory) {
    return platform::CreateDirectoryLevel(platform::TextToAnsi(directory).c_str());
}

bool IsThere(platform::DirectoryOutcome outcome) {
    return outcome == platform::DirectoryOutcome::Created || outcome == platform::DirectoryOutcome::Exists;
}

std::vector<std::u16string> SplitComponents(const std::u16string& directory) {
    std::vector<std::u16string> components;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = directory.find(kSeparator, start);
        components.push_back(directory.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
        if (end == std::u16string::npos) {
            return components;
        }
        start = end + 1;
    }
}

}  // namespace

std::u16string AddBackslash(const std::u16string& text) {
    if (!text.empty() && text.back() == kSeparator) {
        return text;
    }
    return text + kSeparator;
}

void SplitPath(const std::u16string& path, std::u16string& directory, std::u16string& fileName) {
    const std::size_t last = path.rfind(kSeparator);
    if (last == std::u16string::npos) {
        directory.clear();
        fileName = path;
        return;
    }
    // Copy before assigning: the caller may pass `path` as one of the outputs.
    std::u16string head = path.substr(0, last + 1);
    std::u16string tail = path.substr(last + 1);
    directory = std::move(head);
    fileName = std::move(tail);
}

bool MakeDirectoryTree(std::u16string& directory) {
    using platform::DirectoryOutcome;
    if (directory.empty()) {
        return false;
    }
    if (directory.back() == kSeparator) {
        directory.pop_back();
    }
    const DirectoryOutcome first = CreateLevel(directory);
    if (IsThere(first)) {
        return true;
    }
    if (first != DirectoryOutcome::ParentMissing) {
        return false;
    }

    // Search upwards for the deepest level that exists or can be made. The
    // prefix is built with a leading '\' that is dropped again, so rooted
    // ("\a") and network ("\\server\share") paths keep their leading '\'s.
    const std::vector<std::u16string> components = SplitComponents(directory);
    const auto count = static_cast<int>(components.size());
    std::u16string prefix;
    int found = -1;
    for (int k = count - 2; k >= 0; --k) {
        prefix.clear();
        for (int i = 0; i <= k; ++i) {
            prefix += kSeparator;
            prefix += components[static_cast<std::size_t>(i)];
        }
        if (prefix.size() > 1) {
            prefix.erase(0, 1);
        }
        const DirectoryOutcome outcome = CreateLevel(prefix);
        if (IsThere(outcome)) {
            found = k;
            break;
        }
        if (outcome != DirectoryOutcome::ParentMissing) {
            return false;
        }
    }
    if (found < 0) {
        return false;
    }
    for (int m = found + 1; m < count; ++m) {
        prefix += kSeparator;
        prefix += components[static_cast<std::size_t>(m)];
        if (CreateLevel(prefix) != DirectoryOutcome::Created) {
            return false;
        }
    }
    return true;
}

}  // namespace cabinet::paths
