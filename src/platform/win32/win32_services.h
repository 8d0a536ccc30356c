// The Windows implementations of the platform services, made by services.cpp.
#pragma once

#include <memory>
#include <string>

#include "platform/eventlog.h"
#include "platform/file_status.h"
#include "platform/formats/log_source.h"
#include "platform/streams.h"
#include "platform/summary_properties.h"
#include "platform/sysinfo.h"

namespace qs::platform {

std::unique_ptr<SystemInfoService> MakeWin32SystemInfoService();
// GetFileAttributesW on the path as the log gives it (UTF-8, in the wide form of WidePath): on
// Windows the log's paths are local paths or UNC paths as they stand.
std::unique_ptr<FileStatusService> MakeWin32FileStatus();
// Whether the file open as `file` is the expected one (IsExpectedFile; GetFileInformationByHandle
// gives its names). The comment services open a file for that check with no FILE_SHARE_DELETE
// and keep it open while they work on it by its path: Windows then lets nobody rename or delete
// it, so the path leads to that file until the check's handle is closed.
bool IsExpectedFileHandle(void* file, const ExpectedFile& expected);
// Named streams through CreateFileW on "file:NAME:$DATA".
std::unique_ptr<StreamService> MakeWin32StreamService();
// The summary properties through IPropertySetStorage (StgOpenStorageEx).
std::unique_ptr<SummaryPropertyComponent> MakeWin32SummaryComponent();
// The Security log: the live log of this computer when securityLogPath is empty, else the log
// file it names (.evt, or .evtx by its "ElfFile" signature).
std::unique_ptr<EventLogService> MakeWin32EventLogService(std::string securityLogPath);
// An NT event-log (.evt) file; nullptr when the file is missing, unreadable or not such a log.
std::unique_ptr<LogSource> OpenEvtLog(const std::string& path);
// Whether the file begins with the signature of a Vista-and-later log (.evtx).
bool BeginsAsEvtxFile(const std::string& path);
// A Vista-and-later log file (.evtx) through EvtQuery; nullptr when the query of the file fails.
// The records are read up to the first event that cannot be rendered or read.
std::unique_ptr<LogSource> OpenEvtxQueryLog(const std::string& path);

}  // namespace qs::platform
