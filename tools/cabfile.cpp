// cabfile: a command-line front end over CabFile, for scripts, benchmarks
// and checks. Every result and every error comes from CabFile itself.
//
//   cabfile count CAB
//   cabfile xml CAB [NAME]
//   cabfile info CAB [NAME]
//   cabfile extract CAB OUTDIR [NAME [OUTNAME]]
//
// CAB and OUTDIR are drive paths ("D:\Install\Game1.cab") or host paths,
// which are turned into their drive form first.
#include "cabinet/cab_file.h"
#include "platform/drives.h"
#include "platform/runtime.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitRaised = 1;

void PrintUsage() {
    std::cerr << "usage: cabfile count CAB\n"
                 "       cabfile xml CAB [NAME]\n"
                 "       cabfile info CAB [NAME]\n"
                 "       cabfile extract CAB OUTDIR [NAME [OUTNAME]]\n"
                 "CAB and OUTDIR may be drive paths (C:\\dir) or host paths (/dir).\n";
}

bool IsDrivePath(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// A drive path as given; a host path in its drive form. Arguments arrive in
// the host's encoding (UTF-8).
std::u16string ToDrivePath(const std::string& argument) {
    if (IsDrivePath(argument) || argument.starts_with('\\')) {
        return platform::Utf8ToText(argument);
    }
    return platform::AnsiToText(platform::HostPathToDosPath(argument));
}

std::u16string Argument(const std::vector<std::string>& args, std::size_t index) {
    return index < args.size() ? platform::Utf8ToText(args[index]) : std::u16string();
}

void Print(const std::u16string& text) { std::cout << platform::TextToUtf8(text); }

int Run(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    auto cab = cabinet::CabFile::Create();
    cab->SetCabName(ToDrivePath(args[1]));
    if (command == "count" && args.size() == 2) {
        std::cout << cab->FileCount() << "\n";
    } else if (command == "xml" && args.size() <= 3) {
        Print(cab->GetXML(Argument(args, 2)));
        std::cout << "\n";
    } else if (command == "info" && args.size() <= 3) {
        cab->FileFound.Subscribe([](const std::u16string& name, double date, int32_t size, const std::u16string& path) {
            Print(path + name + u"\t" + platform::FormatGeneralDate(date) + u"\t");
            std::cout << size << "\n";
        });
        cab->GetInfo(Argument(args, 2));
    } else if (command == "extract" && args.size() >= 3 && args.size() <= 5) {
        cab->Extract(Argument(args, 3), ToDrivePath(args[2]), Argument(args, 4));
    } else {
        PrintUsage();
        return kExitUsage;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) {
        PrintUsage();
        return kExitUsage;
    }
    try {
        return Run(args);
    } catch (const platform::RaisedError& error) {
        std::cout.flush();
        std::cerr << "cabfile: error " << error.Number() << " in " << platform::TextToUtf8(error.Source()) << ": "
                  << platform::TextToUtf8(error.Description()) << "\n";
        return kExitRaised;
    }
}
