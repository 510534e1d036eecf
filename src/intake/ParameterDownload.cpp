#include "intake/ParameterDownload.h"

#include <boost/format.hpp>

#include "net/AnswerForLog.h"
#include "net/UrlTools.h"

namespace hopwell {
namespace {

const char* const kOpenPath = "/api/v2/ext/chapter/download_parameters";
const char* const kEsefPath = "/api/v2/ext/esef/download_parameters";
const char* const kNotWhiteListed = "URL Not WhiteListed";

}  // namespace

std::string OpenParametersUrl(const std::string& parameterAddress) {
  return JoinUrl(parameterAddress, kOpenPath);
}

std::string EsefParametersUrl(const std::string& address) {
  return address + kEsefPath;
}

std::string ParameterDocumentUrl(const ParameterRequest& request) {
  switch (request.variant) {
    case ParameterVariant::Open:
      return OpenParametersUrl(request.address);
    case ParameterVariant::Esef:
      return EsefParametersUrl(request.address);
    case ParameterVariant::Install:
      break;
  }
  return request.address;
}

bool FetchParameterDocument(IHttpHelper& http, JobStatus& job, LogSource& log,
                            const ParameterRequest& request, std::stringstream& body) {
  const std::string url = ParameterDocumentUrl(request);
  HeaderList headers;
  switch (request.variant) {
    case ParameterVariant::Open:
      job.AddMessage("Downloading parameters...");
      HW_LOG(log, info) << "    Downloading parameters...";
      HW_LOG(log, info) << "    Token is " << request.token;
      HW_LOG(log, info) << "    Contacting " << url;
      headers.push_back(MakeTokenHeader(request.token));
      break;
    case ParameterVariant::Install:
      job.AddMessage("Downloading parameters...");
      HW_LOG(log, info) << "    Downloading parameters...";
      break;
    case ParameterVariant::Esef:
      headers.push_back(MakeTokenHeader(request.token));
      break;
  }

  long status = 0;
  HttpResult result = HttpResult::OpenRequestFailed;
  try {
    result = http.Get(url, &body, nullptr, nullptr, {}, headers, &status);
  } catch (const std::exception& error) {
    // A helper reports failures by result; anything thrown still must not leave the command.
    HW_LOG(log, error) << "    " << error.what();
  }
  if (result != HttpResult::Ok) {
    std::string text = http.ErrorText(result);
    if (result == HttpResult::NotAllowed && text.empty()) text = kNotWhiteListed;
    job.JobFailed(boost::format("Error downloading parameter file (%1%)") % text);
    HW_LOG(log, error) << "    Error downloading parameter file: " << text;
    return false;
  }
  // An error page is not a parameter document: an install that went on with its empty values
  // would report a missing application instead of the server's error.
  if (request.variant != ParameterVariant::Open && status >= 400) {
    job.JobFailed(boost::format("Error download parameter file (%1%).") % status);
    HW_LOG(log, error) << "    Error downloading parameter file. HTTP status: " << status;
    return false;
  }
  if (request.variant != ParameterVariant::Esef) {
    HW_LOG(log, info) << "    Parsing parameters:\n" << AnswerForLog(body.str());
  }
  body.seekg(0);
  return true;
}

}  // namespace hopwell
