#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

#include "commands/save/SaveRequest.h"

namespace hopwell {

// What a save killed on its way leaves, and how the next start or save of the document
// takes it away. Every outcome is only logged.

// UploadFolder / "cgu_<id>.lock": the TurnLock that saves of one document take turns on,
// held from before a save reads its request until its clean-up is done, so that no save
// takes away what a running one of the document made; empty for an identifier that is no
// safe file name.
boost::filesystem::path SaveLockPath(const std::string& documentId);

// UploadFolder / "cgu_<id>.checkin": the record of a confirmed check-in, kept until the
// save's clean-up is done; empty for an identifier that is no safe file name.
boost::filesystem::path CheckinRecordPath(const std::string& documentId);

// Writes the record of request.checkinRecord: what the clean-up removes, and the size and
// modification time of each listed file, so that a clean-up finished later leaves alone a
// file changed since. False (after a log line) when it could not be written.
[[nodiscard]] bool WriteCheckinRecord(const SaveRequest& request);

// Finishes the clean-up the record at path describes and removes the record; nothing when
// there is none. A listed file changed since the check-in is kept, and so are its working
// folder and the record rows of its chapter. Called with the document's save lock held.
void FinishRecordedCleanUp(const boost::filesystem::path& record);

// Removes the record at path without cleaning anything up: a save of the same files took
// over. Called with the document's save lock held.
void DropCheckinRecord(const boost::filesystem::path& record);

// At start-up: finishes every recorded clean-up whose document no save is working on and
// no save request waits for.
void FinishInterruptedSaves();

// Before a save zips: removes the archives "cgu_<id>_<n>.zip" that earlier saves of the
// document left in folder when they were killed. Called with the document's save lock held,
// so no running save's archives are among them.
void RemoveEarlierArchives(const boost::filesystem::path& folder, const std::string& documentId);

}  // namespace hopwell
