// SPDX-License-Identifier: MIT
// The whole XML listing, written a slice at a time (see xml_listing.h).
#include "cabinet/xml_listing.h"

#include "cabinet/callback.h"
#include "cabinet/xml.h"
#include "platform/runtime.h"

#include <string>

namespace cabinet {

void WriteXmlListing(CabFile& cab, std::u16string_view shownName, const std::function<void(std::string_view)>& write) {
    // A slice of some thousand entries: few conversions, little memory.
    constexpr std::size_t kSlice = 64 * 1024;
    std::u16string slice;
    slice.reserve(kSlice + 1024);
    AppendXmlHead(slice, platform::AnsiToText(platform::TextToAnsi(std::u16string(shownName))));
    std::u16string full;
    Callback::EntryDates dates;
    const auto listing =
        cab.FileFound.Subscribe([&](const std::u16string& name, double date, int32_t size, const std::u16string& path) {
            full.assign(path).append(name);
            AppendFileElement(slice, full, name, dates.text(date), size, path);
            if (slice.size() >= kSlice) {
                write(platform::TextToUtf8(slice));
                slice.clear();
            }
        });
    try {
        cab.GetInfo(u"");
    } catch (const platform::RaisedError& error) {
        cab.FileFound.Unsubscribe(listing);
        throw error.WithSource(u"CabFile.GetXML");
    }
    cab.FileFound.Unsubscribe(listing);
    slice += kXmlTail;
    write(platform::TextToUtf8(slice));
}

std::u16string GetXmlShownAs(CabFile& cab, const std::u16string& name, std::u16string_view shownName) {
    std::u16string document = cab.GetXML(name);
    if (cab.CabName() != shownName) {
        // The head names the cabinet as the class wrote it, through the
        // ANSI page: the shown name goes the same way.
        std::u16string readHead, shownHead;
        AppendXmlHead(readHead, platform::AnsiToText(platform::TextToAnsi(cab.CabName())));
        AppendXmlHead(shownHead, platform::AnsiToText(platform::TextToAnsi(std::u16string(shownName))));
        if (document.starts_with(readHead)) {
            document.replace(0, readHead.size(), shownHead);
        }
    }
    return document;
}

}  // namespace cabinet
