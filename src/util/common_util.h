// Service-wide utilities.

#ifndef HALVORN_UTIL_COMMON_UTIL_H_
#define HALVORN_UTIL_COMMON_UTIL_H_

namespace halvorn {
class RegistryPlatform;
}

namespace halvorn::CommonUtil {

// Restarts the installed service through the system's command interpreter: ends the
// running service process (or stops the service when it has none), then starts it again.
// Reports only through the log; when it works, the calling process is ended by it.
void RestartService();

// Reads the "IsAll" logging switch from `registry` (the value is not used yet).
void ReadAllLogRegValue(RegistryPlatform& registry);

}  // namespace halvorn::CommonUtil

#endif  // HALVORN_UTIL_COMMON_UTIL_H_
