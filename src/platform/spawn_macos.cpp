// macOS backend: with POSIX_SPAWN_CLOEXEC_DEFAULT the child keeps only the descriptors that a
// file action names. Standard output and error are redirected by actions already; standard
// input is inherited as it is, so it is named here.
#include <unistd.h>

#include "platform/spawn.h"

namespace halvorsten {

int keepOnlyStandardDescriptors(posix_spawnattr_t* attributes,
                                posix_spawn_file_actions_t* actions) {
  if (const int error =
          posix_spawnattr_setflags(attributes, static_cast<short>(POSIX_SPAWN_CLOEXEC_DEFAULT))) {
    return error;
  }
  return posix_spawn_file_actions_addinherit_np(actions, STDIN_FILENO);
}

}  // namespace halvorsten
