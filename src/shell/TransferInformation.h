#pragma once

#include <string>

namespace hopwell {

class JobStatus;

// The texts of the "Transfer information" dialog for one job, read once when it opens.
struct TransferInformation {
  std::string nameLabel;  // "Chapter name:" unless the kind names its own label
  std::string nameValue;
  std::string information;  // outcome sentence by state and kind; empty while active
  std::string date;         // "%Y-%m-%d %H:%M:%S", empty for a special time
  std::string message;      // the job's newest message
};

inline constexpr const char* kTransferInformationTitle = "Transfer information";
// The information of a job the user cancelled, whatever its kind.
inline constexpr const char* kTransferCancelledText =
    "Cancelled: the job was stopped before it finished.";

// Reads the job's fields through its locks; GetTime stamps a still unset time.
TransferInformation ReadTransferInformation(JobStatus& job);

// The information sentence for a state and action kind (both as stored integers).
std::string TransferInformationText(int state, int kind);

}  // namespace hopwell
