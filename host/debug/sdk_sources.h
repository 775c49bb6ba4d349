// Where the installed SDK's runtime sources are. The SDK's runtime archive names its sources
// under a fixed prefix (kSdkSourcePrefix) instead of the tree it was built in; the SDK
// installs them in share/nuvrelos/ beside its commands, wherever it was moved.
#pragma once

#include <filesystem>
#include <string_view>

namespace nuv {

inline constexpr std::string_view kSdkSourcePrefix = "/nuvrelos-sdk/";

// A file the debugging information names under the prefix, as the copy installed with the
// running command (bin/../share/nuvrelos/...) when that copy exists; any other path as it is.
std::filesystem::path installed_source(const std::filesystem::path& recorded);

}  // namespace nuv
