// SPDX-License-Identifier: MIT
// Counts, lists and extracts a cabinet: cabfile_example CABINET FOLDER (drive paths)
#include <cabinet/cab_file.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: cabfile_example CABINET FOLDER\n";
        return 2;
    }
    auto cab = cabinet::CabFile::Create();
    cab->SetCabName(platform::Utf8ToText(argv[1]));  // e.g. Z:\tmp\x.cab is /tmp/x.cab
    try {
        std::cout << cab->FileCount() << " entries\n";
        std::cout << platform::TextToUtf8(cab->GetXML(u"")) << "\n";
        cab->Extract(u"", platform::Utf8ToText(argv[2]), u"");  // every entry, folders made
    } catch (const platform::RaisedError& error) {
        std::cerr << error.what() << "\n";  // source: description (number)
        return 1;
    }
}
