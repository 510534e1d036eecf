#include "intake/CommandIntake.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <list>
#include <mutex>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "base/CrashStack.h"
#include "base/FrontEnd.h"
#include "intake/CommandFactory.h"
#include "intake/SplitString.h"
#include "intake/TestFault.h"

namespace hopwell {
namespace {

namespace fs = boost::filesystem;

const char* const kUnknownCaption = "Unknown command";

LogSource& IntakeLog() {
  static LogSource source;
  return source;
}

struct CommandRow {
  const char* name;
  ActionKind kind;
  const char* caption;
};

// Tested in this order.
constexpr CommandRow kCommandTable[] = {
    {"open", ActionKind::Download, "Opening..."},
    {"save", ActionKind::Upload, "Saving..."},
    {"install", ActionKind::Install, "Installing..."},
    {"test", ActionKind::Verify, "Verifying..."},
    {"esef", ActionKind::EsefDownload, "Opening ESEF..."},
};

std::vector<JobPtr>& Registry() {
  static auto* registry = new std::vector<JobPtr>();
  return *registry;
}

// Never destroyed: command threads are not joined and may still signal while the process
// runs its exit-time destructors.
std::mutex& runningLock = *new std::mutex;
std::condition_variable& runningChanged = *new std::condition_variable;
int runningCommands = 0;

void CommandThreadBody(std::shared_ptr<KelvCmd> command) {
  struct Finished {
    ~Finished() {
      {
        std::lock_guard lock(runningLock);
        --runningCommands;
      }
      runningChanged.notify_all();
    }
  } finished;
  EnsureCrashStackForThisThread();
  FaultIfAskedForTests();
  command->Run();
  command.reset();
}

JobPtr UnknownJob(const std::string& commandText) {
  return std::make_shared<JobStatus>(ActionKind::Unknown, kUnknownCaption, commandText);
}

void NotifyJobChanged(JobStatus* job) {
  FrontEnd()->JobChanged(*job);
}

}  // namespace

std::string RemoveQuotes(const std::string& commandString) {
  std::string text = commandString;
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

bool IsDirectForm(const std::string& text) {
  return text.size() >= 6 && text.compare(0, 5, "kelv:") == 0;
}

std::string ReadFileContents(LogSource& log, const std::string& path) {
  HW_LOG(log, info) << "Getting file contents of " << path;
  boost::system::error_code error;
  if (!fs::exists(fs::path(path), error)) {
    const std::string message = "The file " + path + " does not exist.";
    HW_LOG(log, info) << message;
    throw IntakeMessage{message};
  }
  std::ifstream stream(path);
  std::string result;
  std::string line;
  while (std::getline(stream, line)) {
    // Command files written on Windows end their lines with CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    result += line;
  }
  HW_LOG(log, info) << "  The file " << path << " was successfully read";
  return result;
}

std::shared_ptr<KelvCmd> CreateCommand(const std::string& commandText, JobPtr& job) {
  const std::vector<std::string> tokens = SplitString(commandText, ":", 2);
  if (tokens.size() >= 2) {
    const std::string& name = tokens[1];
    const std::string argument = tokens.size() > 2 ? tokens[2] : std::string();
    for (const CommandRow& row : kCommandTable) {
      if (name != row.name) continue;
      if (!CommandFactory::Instance().Has(name)) break;
      job = std::make_shared<JobStatus>(row.kind, row.caption, commandText);
      job->AddMessage("Initializing job");
      std::shared_ptr<KelvCmd> command = CommandFactory::Instance().Create(name, argument, job);
      if (command) command->AttachJob(job);
      return command;
    }
  }
  job = UnknownJob(commandText);
  job->JobFailed(boost::format("Can't handle %1%.") % commandText);
  return nullptr;
}

JobPtr ProcessCommand(const std::string& commandString, const std::string& retryInput) {
  LogSource& log = IntakeLog();
  HW_LOG(log, info) << "ProcessCommand " << commandString;
  const std::string unquoted = RemoveQuotes(commandString);
  if (unquoted.empty()) {
    JobPtr job = UnknownJob(commandString);
    job->AddMessage("Nothing to do, command string is empty.");
    HW_LOG(log, warning) << "Nothing to do, command string is empty";
    return job;
  }

  const std::string& pathCandidate = unquoted;
  std::string commandText = unquoted;
  bool fileCommand = false;
  JobPtr job;
  try {
    if (!IsDirectForm(commandText)) {
      commandText = ReadFileContents(log, pathCandidate);
      if (!IsDirectForm(commandText)) {
        throw IntakeMessage{"The KelvProtocolHandler could not execute the command: " +
                            pathCandidate + "\n\n" + commandText + "."};
      }
      fileCommand = true;
    }
    std::shared_ptr<KelvCmd> command = CreateCommand(commandText, job);
    if (!retryInput.empty()) job->SetRetryInput(retryInput);
    if (command) {
      HW_LOG(log, info) << "  Creating new thread to execute command";
      {
        std::lock_guard lock(runningLock);
        ++runningCommands;
      }
      try {
        // Command threads are never joined: detached, a command still running when the
        // process ends is simply cut off, and a finished one leaves nothing behind.
        // The thread's own copy of its function outlives the body; the command is moved out
        // of it so that its last reference goes inside the body, before the thread counts
        // itself finished (a waiting exit must not run while the command is still being
        // destroyed).
        boost::thread([owned = std::move(command)]() mutable {
          CommandThreadBody(std::move(owned));
        }).detach();
      } catch (...) {
        {
          std::lock_guard lock(runningLock);
          --runningCommands;
        }
        throw;
      }
    } else {
      HW_LOG(log, warning) << "  No Command for " << commandText;
    }
  } catch (const IntakeMessage& message) {
    job = UnknownJob(commandString);
    job->JobFailed(message.text);
    HW_LOG(log, error) << message.text;
  }

  if (fileCommand) {
    HW_LOG(log, debug) << "Deleting file " << pathCandidate;
    boost::system::error_code ignored;
    fs::remove(fs::path(pathCandidate), ignored);
  }
  return job;
}

void SubmitCommand(const std::string& commandString, const std::string& retryInput) {
  JobPtr job = ProcessCommand(commandString, retryInput);
  job->SetOnChange(&NotifyJobChanged);
  FrontEnd()->JobAdded(*job);
  Registry().push_back(job);
}

const std::vector<JobPtr>& JobRegistry() {
  return Registry();
}

int CancelAllJobs() {
  int cancelled = 0;
  for (const JobPtr& job : Registry()) {
    if (job->Cancel()) ++cancelled;
  }
  return cancelled;
}

bool AnyJobActive() {
  for (const JobPtr& job : Registry()) {
    if (IsActive(job->GetState())) return true;
  }
  return false;
}

int RunningCommandCount() {
  std::lock_guard lock(runningLock);
  return runningCommands;
}

bool WaitForCommandThreads(int timeoutMilliseconds) {
  std::unique_lock lock(runningLock);
  return runningChanged.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                 [] { return runningCommands == 0; });
}

}  // namespace hopwell
