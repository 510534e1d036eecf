#pragma once

namespace hopwell::param_keys {

// Element and attribute names of a parameter document.
inline constexpr char kParams[] = "params";
inline constexpr char kParam[] = "param";
inline constexpr char kName[] = "name";
inline constexpr char kValue[] = "value";

// Keys describing the editing application a document needs.
inline constexpr char kAppQuery[] = "appquery";
inline constexpr char kDocumentType[] = "documenttype";
inline constexpr char kUserRight[] = "userright";
inline constexpr char kAppVersion[] = "appversion";
inline constexpr char kAppVersionString[] = "appversionstring";
inline constexpr char kPluginVersion[] = "pluginversion";
inline constexpr char kPluginUrl[] = "pluginurl";
inline constexpr char kPluginCrc[] = "plugincrc";
inline constexpr char kAppName[] = "appname";
inline constexpr char kAppClsid[] = "appclsid";  // sent by the platform, not used here
inline constexpr char kAdditionalAppName[] = "additionalappname";
inline constexpr char kAdditionalAppQuery[] = "additionalappquery";
inline constexpr char kAppDefaultPath[] = "appdefaultpath";
inline constexpr char kAdditionalAppDefaultPath[] = "additionalappdefaultpath";

}  // namespace hopwell::param_keys
