#pragma once

#include <string>
#include <string_view>

#include "net/IHttpHelper.h"

namespace hopwell {

// Name of the header that carries a command's API token.
inline constexpr const char* kApiTokenHeader = "X-API-Token";

// Values of the identification parameters every request URL carries.
inline constexpr const char* kIdentificationOs = "linux";

// Percent-encodes every byte except ASCII letters, digits and "-._~" (upper-case hex).
std::string UrlEscape(std::string_view text);

// url + ("?" if url has no "?" anywhere, else "&") + escaped name + "=" + escaped value.
std::string AddQueryParameter(const std::string& url, std::string_view name,
                              std::string_view value);

// Appends the query list, then "hwversion", "os" and "ver", then turns every "&amp;" into "&".
std::string BuildUrl(const std::string& url, const QueryList& query = {});

// base without trailing "/" + "/" + path without leading "/".
std::string JoinUrl(std::string_view base, std::string_view path);

// ("X-API-Token", escaped token), ready to append to a HeaderList.
StringPair MakeTokenHeader(std::string_view token);

// The kernel release as "major.minor.patch." (note the final dot); empty if unknown.
std::string OsVersionString();
// The same form from a uname-style release text such as "6.1.0-18-amd64"; empty when it
// does not start with a number.
std::string OsVersionFromRelease(std::string_view release);

// "Authorization: Basic " + Base64(user + ":" + password) + CR LF.
std::string BasicAuthorizationLine(std::string_view userName, std::string_view password);

// RFC 4648 Base64, standard alphabet, padded, no line breaks.
std::string Base64Encode(std::string_view bytes);

// MD5 digest of the bytes as 32 upper-case hexadecimal digits; empty if hashing failed.
std::string Md5Hex(std::string_view bytes);

}  // namespace hopwell
