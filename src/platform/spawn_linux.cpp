// Linux backend: glibc closes every descriptor from 3 on in the child, after the redirections.
#include "platform/spawn.h"

namespace halvorsten {

int keepOnlyStandardDescriptors(posix_spawnattr_t*, posix_spawn_file_actions_t* actions) {
  return posix_spawn_file_actions_addclosefrom_np(actions, 3);
}

}  // namespace halvorsten
