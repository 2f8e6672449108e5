// SPDX-License-Identifier: MIT
// CabFile's operations: each checks the cabinet name, registers the object
// for the walk, stores its inputs, walks the cabinet once and finishes.
#include "cabinet/cab_file.h"

#include "cabinet/callback.h"
#include "cabinet/errors.h"
#include "cabinet/xml.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

#include <utility>

namespace cabinet {

namespace {

constexpr char16_t kSourceCabFile[] = u"CabFile";
constexpr char16_t kSourceGetInfo[] = u"CabFile.GetInfo";
constexpr char16_t kSourceGetXml[] = u"CabFile.GetXML";

// Runs `body`, raising any error it raises again under `source`.
template <typename Body>
auto Relabelled(const char16_t* source, Body&& body) {
    try {
        return body();
    } catch (const platform::RaisedError& error) {
        throw error.WithSource(source);
    }
}

// Points an object at the record of the walk it runs, for as long as it runs.
class RunningWalk {
public:
    RunningWalk(Callback::WalkContext*& slot, Callback::WalkContext& walk) : slot_(slot), walk_(walk) {
        slot_ = &walk_;
    }
    ~RunningWalk() { slot_ = nullptr; }
    RunningWalk(const RunningWalk&) = delete;
    RunningWalk& operator=(const RunningWalk&) = delete;

    int32_t Run(const std::string& cabinet) {
        return platform::SetupIterateCabinetA(cabinet.c_str(), 0, &Callback::CabFileCallback, &walk_);
    }

private:
    Callback::WalkContext*& slot_;
    Callback::WalkContext& walk_;
};

}  // namespace

std::shared_ptr<CabFile> CabFile::Create() { return std::shared_ptr<CabFile>(new CabFile()); }

void CabFile::CheckCabName() const {
    if (cabName_.empty()) {
        throw platform::RaisedError(CabErrNoCabName, kSourceCabFile, CabErrorText(CabErrNoCabName));
    }
}

void CabFile::Walk(IterationMode mode) {
    std::string cabinet = platform::TextToAnsi(cabName_);
    Callback::WalkContext walk{this, mode, nullptr, {}};
    const int32_t completed = RunningWalk(walk_, walk).Run(cabinet);
    const uint32_t code = platform::GetLastError();
    // The name went to the platform in its 8-bit form; keep what came back.
    cabName_ = platform::AnsiToText(cabinet);
    if (walk.parkedError) {
        std::rethrow_exception(walk.parkedError);
    }
    if (!completed) {
        const auto number = static_cast<int32_t>(code);
        throw platform::RaisedError(number != 0 ? number : CabErrWalkFailedWithoutCode, kSourceCabFile,
                                    Win32ErrorText(number));
    }
}

int32_t CabFile::FileCount() {
    CheckCabName();
    Callback::SetActiveCabFile(shared_from_this());
    filesCounted_ = 0;
    Walk(IterationMode::ModeCount);
    return filesCounted_;
}

bool CabFile::Extract(const std::u16string& FileToExtract, const std::u16string& OutputPath,
                      const std::u16string& OutputFile) {
    CheckCabName();
    Callback::SetActiveCabFile(shared_from_this());
    fileToMatch_ = FileToExtract;
    extractPath_ = OutputPath;
    extractFile_ = OutputFile;
    if (currentFileHook_) {
        currentFileHook_(FileToExtract);
    }
    Walk(IterationMode::ModeExtract);
    return true;
}

bool CabFile::GetInfo(const std::u16string& FileToInvestigate) {
    return Relabelled(kSourceGetInfo, [&] {
        CheckCabName();
        Callback::SetActiveCabFile(shared_from_this());
        fileToMatch_ = FileToInvestigate;
        Walk(IterationMode::ModeInfo);
        return true;
    });
}

std::u16string CabFile::GetXML(const std::u16string& FileToInvestigate) {
    return Relabelled(kSourceGetXml, [&] {
        CheckCabName();
        Callback::SetActiveCabFile(shared_from_this());
        fileToMatch_ = FileToInvestigate;
        // The document is built in place and handed over as the result: a
        // listing of 100,000 entries is tens of megabytes, too much to copy.
        // So XmlText holds the document's head before the FILE elements
        // (the cabinet's name as the walk gives it back, known beforehand)
        // and is left empty, not holding the FILES element: nothing reads it.
        xmlText_.clear();
        AppendXmlHead(xmlText_, platform::AnsiToText(platform::TextToAnsi(cabName_)));
        Walk(IterationMode::ModeXml);
        xmlText_ += kXmlTail;
        return std::exchange(xmlText_, std::u16string());
    });
}

}  // namespace cabinet
