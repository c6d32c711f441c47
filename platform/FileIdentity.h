// Paths as the system resolves them: a device may be named through a link, a relative
// path or a spelling with "." and repeated separators.
#pragma once

#include <string_view>

namespace quorvel::platform {

// Whether Path names something the system can find, following links.
bool FileExists(std::u16string_view Path);

// Whether A and B name the same file or device node once the system has resolved them.
// False when either cannot be resolved.
bool SameFile(std::u16string_view A, std::u16string_view B);

}  // namespace quorvel::platform
