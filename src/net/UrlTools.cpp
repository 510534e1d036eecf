#include "net/UrlTools.h"

#include <sys/utsname.h>

#include <array>
#include <cctype>

#include <boost/algorithm/string/replace.hpp>
#include <openssl/evp.h>

#include "Version.h"

namespace hopwell {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~';
}

// Reads the decimal number at text[pos...]; false when there is no digit there.
bool ReadNumber(std::string_view text, std::size_t& pos, std::string& number) {
  const std::size_t start = pos;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) ++pos;
  if (pos == start) return false;
  number.assign(text.substr(start, pos - start));
  return true;
}

}  // namespace

std::string UrlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size() * 3);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      escaped.push_back(ch);
    } else {
      escaped.push_back('%');
      escaped.push_back(kHexDigits[c >> 4]);
      escaped.push_back(kHexDigits[c & 0x0F]);
    }
  }
  return escaped;
}

std::string AddQueryParameter(const std::string& url, std::string_view name,
                              std::string_view value) {
  const char separator = url.find('?') == std::string::npos ? '?' : '&';
  return url + separator + UrlEscape(name) + '=' + UrlEscape(value);
}

std::string BuildUrl(const std::string& url, const QueryList& query) {
  std::string result = url;
  for (const auto& [name, value] : query) result = AddQueryParameter(result, name, value);
  result = AddQueryParameter(result, "hwversion", kProductVersion);
  result = AddQueryParameter(result, "os", kIdentificationOs);
  result = AddQueryParameter(result, "ver", OsVersionString());
  boost::algorithm::replace_all(result, "&amp;", "&");
  return result;
}

std::string JoinUrl(std::string_view base, std::string_view path) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  std::string joined(base);
  joined += '/';
  joined += path;
  return joined;
}

StringPair MakeTokenHeader(std::string_view token) {
  return {kApiTokenHeader, UrlEscape(token)};
}

std::string OsVersionFromRelease(std::string_view release) {
  // "6.1.0-18-amd64" -> "6.1.0."; missing minor or patch numbers count as 0.
  std::size_t pos = 0;
  std::array<std::string, 3> parts{"0", "0", "0"};
  if (!ReadNumber(release, pos, parts[0])) return {};
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (pos >= release.size() || release[pos] != '.') break;
    ++pos;
    if (!ReadNumber(release, pos, parts[i])) break;
  }
  return parts[0] + '.' + parts[1] + '.' + parts[2] + '.';
}

std::string OsVersionString() {
  utsname name{};
  if (::uname(&name) != 0) return {};
  return OsVersionFromRelease(name.release);
}

std::string BasicAuthorizationLine(std::string_view userName, std::string_view password) {
  std::string credentials(userName);
  credentials += ':';
  credentials += password;
  return "Authorization: Basic " + Base64Encode(credentials) + "\r\n";
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (static_cast<unsigned char>(bytes[i]) << 16) |
                                (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
    encoded.push_back(kAlphabet[(group >> 18) & 0x3F]);
    encoded.push_back(kAlphabet[(group >> 12) & 0x3F]);
    encoded.push_back(kAlphabet[(group >> 6) & 0x3F]);
    encoded.push_back(kAlphabet[group & 0x3F]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    encoded.push_back(kAlphabet[(group >> 18) & 0x3F]);
    encoded.push_back(kAlphabet[(group >> 12) & 0x3F]);
    encoded.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
    encoded.push_back('=');
  }
  return encoded;
}

std::string Md5Hex(std::string_view bytes) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
    return {};
  }
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHexDigits[digest[i] >> 4]);
    hex.push_back(kHexDigits[digest[i] & 0x0F]);
  }
  return hex;
}

}  // namespace hopwell
