// The maker's code-signing publishers: the simple display names of its certificates.
#pragma once
#include <cstddef>

namespace voro {

constexpr size_t kPublisherCount = 16;
extern const wchar_t* const kPublishers[kPublisherCount];

// True when name is one of the publishers (case-insensitive, whole name only).
bool IsAllowedPublisher(const wchar_t* name);

}  // namespace voro
