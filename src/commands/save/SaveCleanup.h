#pragma once

#include "commands/save/SaveRequest.h"

namespace hopwell {

// After a confirmed check-in: removes what the save leaves behind locally. Every outcome is
// only logged; none of them changes the job.

// The files the request listed, each only when it lies in the client's temporary root.
void DeleteListedFiles(const SaveRequest& request);
// TempRoot / IDS / working folder name (TPVID in the older format), then the IDS folder when
// nothing else is left in it. Skipped when either name is empty or not a plain folder name.
void RemoveWorkingFolder(const SaveRequest& request);
// The rows of "CurrentDocuments.cdb" that record this chapter (older format only).
void RemoveRecordRows(const SaveRequest& request);
// The archives the save built and the platform confirmed.
void DeleteUploadedArchives(const SaveRequest& request);

// All of the above, in the order the save needs.
void CleanUpAfterSave(const SaveRequest& request);

}  // namespace hopwell
