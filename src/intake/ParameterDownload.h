#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "base/Logging.h"
#include "intake/JobStatus.h"
#include "net/IHttpHelper.h"

namespace hopwell {

// The three ways a command fetches its parameter document. They differ in the address,
// the token header, the messages and whether the HTTP status counts.
enum class ParameterVariant { Open, Install, Esef };

// What one fetch needs from its command.
struct ParameterRequest {
  ParameterVariant variant = ParameterVariant::Open;
  // Open: the chapter's parameter address; Install: the document's URL; Esef: the
  // report's address.
  std::string address;
  std::string token;  // Open and Esef: sent as the API token header
};

// The URL a variant requests.
std::string OpenParametersUrl(const std::string& parameterAddress);
std::string EsefParametersUrl(const std::string& address);
std::string ParameterDocumentUrl(const ParameterRequest& request);

// Runs the exchange and leaves the answer in `body`. On failure the job has been failed,
// the reason logged, and the result is false. Never throws.
bool FetchParameterDocument(IHttpHelper& http, JobStatus& job, LogSource& log,
                            const ParameterRequest& request, std::stringstream& body);

// Fetches and parses a document of type Document (constructed from an input stream, e.g.
// OpenCmdParameters); empty on failure, the job then already failed. A body that is not a
// parameter document still gives a document, one that is not initialized.
template <class Document>
std::shared_ptr<Document> DownloadParameters(IHttpHelper& http, JobStatus& job, LogSource& log,
                                             const ParameterRequest& request) {
  std::stringstream body;
  if (!FetchParameterDocument(http, job, log, request, body)) return nullptr;
  try {
    return std::make_shared<Document>(body);
  } catch (const std::exception& error) {
    HW_LOG(log, error) << "    Error reading parameter file: " << error.what();
    job.JobFailed("Error reading parameter file");
    return nullptr;
  }
}

// The open command's document: address joined with the download path, token header.
template <class Document>
std::shared_ptr<Document> DownloadOpenParameters(IHttpHelper& http, JobStatus& job, LogSource& log,
                                                 const std::string& address,
                                                 const std::string& token) {
  return DownloadParameters<Document>(http, job, log, {ParameterVariant::Open, address, token});
}

// The install command's document: its URL unchanged, no header.
template <class Document>
std::shared_ptr<Document> DownloadInstallParameters(IHttpHelper& http, JobStatus& job,
                                                    LogSource& log, const std::string& url) {
  return DownloadParameters<Document>(http, job, log, {ParameterVariant::Install, url, {}});
}

// The ESEF command's document: address + download path, token header; status 400 or more
// fails.
template <class Document>
std::shared_ptr<Document> DownloadEsefParameters(IHttpHelper& http, JobStatus& job, LogSource& log,
                                                 const std::string& address,
                                                 const std::string& token) {
  return DownloadParameters<Document>(http, job, log, {ParameterVariant::Esef, address, token});
}

}  // namespace hopwell
