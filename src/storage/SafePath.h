#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace hopwell {

// Names that come from outside (command strings, parameter documents, save requests,
// archive entries) are joined to local folders only through these functions, so that no
// such name can reach outside its folder.

// A single path component: not empty, not "." or "..", no '/' and no NUL.
[[nodiscard]] bool IsSafeComponent(std::string_view name);

// folder / name, or nothing when name is not a safe component.
[[nodiscard]] std::optional<boost::filesystem::path> JoinChecked(
    const boost::filesystem::path& folder, std::string_view name);

// folder / a / b / ... for a relative name whose components are separated by '/' (or '\\',
// as archives written on Windows may use). Every component must be safe; a leading
// separator (absolute name) or a drive letter ("C:") refuses the whole name.
[[nodiscard]] std::optional<boost::filesystem::path> JoinRelativeChecked(
    const boost::filesystem::path& folder, std::string_view relative);

// The components of such a relative name, each checked as JoinRelativeChecked checks them,
// for code that walks them with openat relative to folders it holds open; nothing when the
// name is refused.
[[nodiscard]] std::optional<std::vector<std::string_view>> SplitRelativeChecked(
    std::string_view relative);

}  // namespace hopwell
