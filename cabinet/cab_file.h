// SPDX-License-Identifier: MIT
// CabFile: access to one cabinet at a time. Counts its entries, extracts all
// of them or one into a directory, reports entries through an event and lists
// them as XML. Every operation is one walk of the cabinet by the setup
// library; every failure leaves an operation as a raised error.
#pragma once

#include "cabinet/event.h"
#include "platform/runtime.h"  // RaisedError, which every operation may raise
#include "platform/setupapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace cabinet {

namespace Callback {
struct WalkContext;
}

// What a walk is for; travels to the handlers in the walk's context record.
enum class IterationMode : int32_t {
    ModeCount = 0,
    ModeInfo = 1,
    ModeExtract = 2,
    ModeXml = 3,
};

class CabFile : public std::enable_shared_from_this<CabFile> {
public:
    // Objects are shared by reference counting: the Callback module keeps
    // the one that started the latest walk.
    static std::shared_ptr<CabFile> Create();

    CabFile(const CabFile&) = delete;
    CabFile& operator=(const CabFile&) = delete;

    // Full path of the cabinet file (a drive path). No check on assignment.
    const std::u16string& CabName() const { return cabName_; }
    void SetCabName(std::u16string cabName) { cabName_ = std::move(cabName); }

    // The number of entries in the cabinet.
    int32_t FileCount();

    // Extracts every entry (empty FileToExtract) or each entry whose full
    // name equals FileToExtract ignoring case, into OutputPath (else the
    // cabinet's directory) under OutputFile (else the entry's own name).
    bool Extract(const std::u16string& FileToExtract, const std::u16string& OutputPath,
                 const std::u16string& OutputFile);

    // Told FileToExtract once per Extract, after its inputs are stored and
    // before the walk: where a program shows the entry being extracted (the
    // installer's window sets its current-file label). One per object; an
    // empty function removes it. What it raises leaves Extract unchanged.
    using CurrentFileHook = std::function<void(const std::u16string& FileToExtract)>;
    void SetCurrentFileHook(CurrentFileHook hook) { currentFileHook_ = std::move(hook); }

    // Raises FileFound for every entry, or for the first whose full name
    // equals FileToInvestigate ignoring case.
    bool GetInfo(const std::u16string& FileToInvestigate);

    // The XML listing of every entry, or of the first whose last name part
    // equals FileToInvestigate ignoring case.
    std::u16string GetXML(const std::u16string& FileToInvestigate);

    // FileName (last part), DateTime (stored, not converted), Size, Path
    // (directory part with its trailing '\', or empty).
    Event<const std::u16string&, double, int32_t, const std::u16string&> FileFound;
    // FileName (full name in the cabinet), Cancel (by reference, false on entry).
    Event<const std::u16string&, bool&> BeforeExtract;
    // FileName: the full path the entry was written to.
    Event<const std::u16string&> AfterExtract;

    // The notification handler of a walk this object started; for the
    // Callback module only.
    uint32_t CabCallBack(int32_t Mode, uint32_t Notification, uintptr_t Param1, uintptr_t Param2);

private:
    CabFile() = default;

    // The frame every operation shares once its inputs are stored: one walk
    // in `mode`, raising the walk's failure.
    void Walk(IterationMode mode);
    void CheckCabName() const;

    uint32_t InfoCallBack(const platform::FILE_IN_CABINET_INFO_A& info);
    uint32_t XmlCallBack(const platform::FILE_IN_CABINET_INFO_A& info);
    uint32_t ExtractCallBack(platform::FILE_IN_CABINET_INFO_A& info);

    bool Matches(std::u16string_view comparedName) const;
    uint32_t AnswerAfterLookUp(bool matched) const;
    std::u16string BuildTargetPath(const std::u16string& nameInCabinet) const;

    std::u16string cabName_;
    std::u16string fileToMatch_;
    std::u16string extractPath_;
    std::u16string extractFile_;
    int32_t filesCounted_ = 0;
    std::u16string xmlText_;
    CurrentFileHook currentFileHook_;
    // The record of the walk this object is running, while it runs one.
    Callback::WalkContext* walk_ = nullptr;
};

}  // namespace cabinet
