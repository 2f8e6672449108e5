// SPDX-License-Identifier: MIT
// The texts of the cabinet object's errors.
#include "cabinet/errors.h"

#include <array>
#include <string_view>
#include <utility>

namespace cabinet {

namespace {

constexpr std::u16string_view kUnknownError = u"Unknown error.";

constexpr std::array<std::pair<int32_t, std::u16string_view>, 25> kWin32Texts = {{
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {8, u"Not enough storage is available to process this command."},
    {13, u"Invalid data."},
    {14, u"Not enough storage is available to complete this operation."},
    {15, u"The system cannot find the drive specified."},
    {19, u"The media is write protected."},
    {20, u"The system cannot find the device specified."},
    {21, u"The device is not ready."},
    {23, u"Data error (cyclic redundancy check)."},
    {25, u"The drive cannot locate a specific area or track on the disk."},
    {26, u"The specified disk or diskette cannot be accessed."},
    {27, u"The drive cannot find the sector requested."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {31, u"A device attached to the system is not functioning."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {33, u"The process cannot access the file because another process has locked a portion of the file."},
    {39, u"The disk is full."},
    {82, u"The directory or file cannot be created."},
    {111, u"The file name is too long."},
    {112, u"There is not enough space on the disk."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
}};

}  // namespace

std::u16string CabErrorText(int32_t number) {
    if (number == CabErrNoCabName) {
        return u"You must set the CabName property before taking any action on the CabFile object.";
    }
    return std::u16string(kUnknownError);
}

std::u16string Win32ErrorText(int32_t code) {
    for (const auto& [number, text] : kWin32Texts) {
        if (number == code) {
            return std::u16string(text);
        }
    }
    return std::u16string(kUnknownError);
}

}  // namespace cabinet
