// SPDX-License-Identifier: MIT
// The XML listing for a program that prints it, part of the class's public
// face beside cab_file.h: a whole cabinet's as the bytes GetXML's document
// has in UTF-8, handed over a slice at a time as the walk finds the entries,
// so that no document of tens of megabytes is built and then converted
// whole (a listing of 65,535 entries is 34 MB); and GetXML's for a cabinet
// read under another name than the one to show.
#pragma once

#include "cabinet/cab_file.h"

#include <functional>
#include <string>
#include <string_view>

namespace cabinet {

// Writes TextToUtf8(GetXML(u"")) to `write`, in slices that end between
// elements, as if the cabinet were named `shownName` (a program that reads a
// copy names the original). One GetInfo walk of the object's cabinet: its
// FileFound event is used for the walk's length. Raises what GetXML would
// raise, under GetXML's name; what was written by then is not a listing.
void WriteXmlListing(CabFile& cab, std::u16string_view shownName, const std::function<void(std::string_view)>& write);

// GetXML(name)'s document, as if the cabinet were named `shownName`: a
// program that reads a copy of a cabinet names the original. Raises what
// GetXML raises.
std::u16string GetXmlShownAs(CabFile& cab, const std::u16string& name, std::u16string_view shownName);

}  // namespace cabinet
