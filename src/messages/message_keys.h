// Every message key the launcher looks up, with the kinds of the arguments that the
// launcher passes when it formats the key's text ("s" a text, "d" a number, "" none).
#pragma once

#include <string_view>

namespace zorvex::messages {

struct MessageKey {
  std::string_view key;
  std::string_view args;
};

inline constexpr MessageKey kMessageKeys[] = {
    // Run sequence.
    {"S_BOOTSTRAPMSG", ""},
    {"S_BOOTSTRAPONLYMSG", ""},
    {"S_ERBOOTSTRAP_RANGE", "d"},
    {"S_ERGOSLST", "sd"},
    {"S_ERJRENFD", "ss"},
    {"S_ERRORINVOKINGFROMCD", "s"},
    {"S_ERR_INVALID_PREREQ_CONFIG_LOC", "s"},
    {"S_ERR_PREREQ_CONFIG_LOC", ""},
    {"S_ERR_REG_ACCESS", ""},
    {"S_ERZORPARAMNFD", ""},
    {"S_JRELOC_ERROR_NOCONSOLE_WIN", ""},
    {"S_LDLIBPATH_VAR", ""},
    {"S_STARTINSTALLERMSG", "s"},
    {"S_WAITMSG", ""},
    {"S_INSTALL_LOG_KEPT", "s"},
    // Process launch.
    {"S_CMDLINE_ARG_ELTS", ""},
    {"S_JVMLOADMSG", "s"},
    {"S_TOTAL_ARGS", "d"},
    // Console.
    {"S_ENTER_ENTER", ""},
    {"S_ZEK", ""},
    // Parameter file.
    {"S_DEF_PARAMFILE", "s"},
    {"S_ERUSR_PARAMFILE_NOT_FOUND", "s"},
    {"S_ERZORPARAMNFD_LOC", "s"},
    {"S_USING_PARAMFILE", "s"},
    // Paths and scratch directory.
    {"S_ERABS_PATH", "s"},
    {"S_ERPERDIR", "s"},
    // Prerequisite engine.
    {"S_ACTUAL", "s"},
    {"S_CHECKING_FOR_OS_VERSION", ""},
    {"S_CHECKING_REQ_PREREQ", ""},
    {"S_EXIT_CONTINUE", ""},
    {"S_EXIT_MSG", "s"},
    {"S_NO_PREQ_RUN", ""},
    {"S_SFAILED", ""},
    {"S_SFAILED_ON_NEWLINE", ""},
    {"S_SPASSED_ON_NEWLINE", ""},
    // System probes.
    {"S_ACTUAL_CPU", "d"},
    {"S_ACTUAL_SWAP", "d"},
    {"S_CHECKING_FOR_CPU", "s"},
    {"S_CHECKING_FOR_DISP_COL", "s"},
    {"S_CHECKING_FOR_SERVICE_PACK", ""},
    {"S_CHECKING_FOR_SWAP", "s"},
    {"S_FAILED_TO_OPEN_REGISTRY", ""},
    {"S_FAIL_CHECKING_FOR_SWAP", "ds"},
    {"S_HIGHER_THAN", "s"},
    {"S_INVALID_SWAP_SPACE_REQ", ""},
    {"S_REGISTRY_KEY_TOO_LARGE", ""},
    {"S_SPASSED", ""},
    // Prerequisite outcome and prompts.
    {"S_CONTINUE", ""},
    {"S_CONTINUE_NO", ""},
    {"S_CONTINUE_YES", ""},
    {"S_FAILED_OPTIONAL", ""},
    {"S_FAILED_PATCHES_1", ""},
    {"S_FAILED_PRE_REQ_1", ""},
    {"S_FAILED_PRE_REQ_2", ""},
    {"S_IGNORE_OPT_SYS_PREREQ", ""},
    {"S_IGNORE_PATCH_SYS_PREREQ", ""},
    {"S_IGNORE_REQ_SYS_PREREQ", ""},
    {"S_PRE_REQREQ_PASSED", ""},
    // File tree operations.
    {"S_NUMBER_OF_FILES_BOOTSTRAPPED", "sd"},
    // Bootstrap driver.
    {"S_ERJRE_MISSING", ""},
    {"S_UNZIP_COMMANDLINE", ""},
    {"S_UNZIP_FAILED", "s"},
    {"S_ERBOOTSTRAP_SPACE", "sd"},
    {"S_ERBOOTSTRAP_COPY", "ss"},
    // Java runtime location.
    {"S_INVALID_JDK_HOME", ""},
    {"S_INVALID_JRE_HOME", ""},
    {"S_SPECIFY_JDK_ONLY_LOCATION", ""},
    {"S_SPECIFY_JRE_LOCATION", ""},
    {"S_SPECIFY_JRE_ONLY_LOCATION", ""},
    {"S_SPECIFY_VALID_JDK_ONLY_LOCATION", ""},
    {"S_SPECIFY_VALID_JRE_LOCATION", ""},
    {"S_SPECIFY_VALID_JRE_ONLY_LOCATION", ""},
    // Places, media and names the run refuses.
    {"S_ERMEDIUM_PLACE", "sss"},
    {"S_ERTEMP_UNSAFE", "ss"},
    {"S_ERTWO_DIRECTORIES", "s"},
    {"S_ERJRE_NOT_STAGED", "s"},
};

inline constexpr size_t kMessageKeyCount = sizeof(kMessageKeys) / sizeof(kMessageKeys[0]);

// The keys this launcher added to the catalogues' own, with the base catalogue's English
// texts: a medium whose catalogues were made before them still says what they say, with
// their arguments, instead of the bare key.
struct AddedKeyText {
  std::string_view key;
  std::string_view text;
};
inline constexpr AddedKeyText kAddedKeyTexts[] = {
    {"S_INSTALL_LOG_KEPT", "The installation did not succeed; its install log is kept as %s\n"},
    {"S_ERBOOTSTRAP_SPACE",
     "There is not enough free space in %s for the installer files: %d KB are needed.\n"},
    {"S_ERBOOTSTRAP_COPY", "Copying %s to %s failed.\n"},
    {"S_ERMEDIUM_PLACE",
     "%s %s lies on the installation medium or holds it (%s): the installer writes nothing onto "
     "its medium. Name a directory outside it.\n"},
    {"S_ERTEMP_UNSAFE",
     "The temporary directory cannot hold the installer's files: %s, so another user could steer "
     "what the installer writes there. Set %s to a directory of your own.\n"},
    {"S_ERTWO_DIRECTORIES",
     "%s leads to one directory when the installer makes or checks it and to another when it is "
     "used (a link turned meanwhile, or a name Windows reads in another form): the installer does "
     "not use it.\n"},
    {"S_ERJRE_NOT_STAGED",
     "No Java runtime was unpacked into %s: the runtime component's jars hold none.\n"},
};
// The 69 keys of the launcher's messages, and three more, so that no run ends without
// saying why: the install log that a failed run keeps out of the scratch directory it
// removes, too little room for the bootstrap, and a copy of the bootstrap that failed.
static_assert(kMessageKeyCount == 76);

}  // namespace zorvex::messages
