#include "platform/platform.h"

namespace zorvex::platform {

const PathStyle kWindowsStyle = {'\\', ';', "javaw.exe", "java.exe", "C:\\TEMP", "Windows", true};
const PathStyle kPosixStyle = {'/', ':', "java", "java", "/tmp", "Linux", false};

namespace {
Platform g_platform;
}

Platform& Os() { return g_platform; }

void SetPlatform(const Platform& platform) { g_platform = platform; }

}  // namespace zorvex::platform
