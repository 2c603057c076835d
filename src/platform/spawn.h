// The seam to the platform's way of keeping a child process to its three standard
// descriptors. Every descriptor the service opens is close-on-exec already; this also covers
// one it may have inherited from whoever started it, which it cannot know about.
#pragma once

#include <spawn.h>

namespace halvorsten {

// Sets up `attributes` and `actions`, after every redirection of the standard descriptors has
// been added to `actions`, so that the child starts with descriptors 0 to 2 only. Returns 0
// or an errno value.
int keepOnlyStandardDescriptors(posix_spawnattr_t* attributes, posix_spawn_file_actions_t* actions);

}  // namespace halvorsten
