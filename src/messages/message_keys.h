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
    {"S_ERMEDIUM_CHANGED", "ss"},
    {"S_ERMEDIUM_UNLISTED", "s"},
    {"S_ERMEDIUM_MISSING", "s"},
    {"S_ERMEDIUM_NO_MANIFEST", "s"},
    {"S_ERMEDIUM_BAD_MANIFEST", "s"},
    {"S_ERMEDIUM_ABOVE_ROOT", ""},
    {"S_ERMEDIUM_NO_PATH", ""},
    {"S_ERNOEXEC", "ss"},
    {"S_NOEXEC_SCRATCH", ""},
    {"S_NOEXEC_BOOTSTRAP_LOC", ""},
    {"S_NOEXEC_TEMP", ""},
    {"S_JAVA_IN_TEMP", "ss"},
    {"S_ERJAVA_CWD", "s"},
    {"S_ERGIVEN_DEVICE", "ss"},
    {"S_ERGIVEN_ROOT", "ss"},
    {"S_ERGIVEN_BELOW", "sss"},
    {"S_ERSTAGE_LANDS", "sss"},
    {"S_ERJRE_VERSION", "s"},
    {"S_ERUNZIP_START", "ss"},
    {"S_ERJAVA_START", "ss"},
    {"S_LOG_NOT_KEPT", "ss"},
    {"S_NOT_REMOVED", "s"},
    {"S_NOT_REMOVED_MORE", "d"},
    {"S_FREE_SPACE_UNKNOWN", "s"},
    {"S_LOGS_ELSEWHERE", "sss"},
    {"S_LOG_NOT_OPENED", "s"},
    {"S_REG_NOT_WRITABLE", "s"},
    {"S_REG_VALUE_NOT_WRITTEN", "ss"},
    {"S_REG_VALUE_LEFT", "s"},
    {"S_REG_KEY_NOT_MADE", "ss"},
    {"S_REG_KEY_LEFT", "s"},
    {"S_LOGS_NOWHERE", "ss"},
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
    {"S_ERMEDIUM_CHANGED",
     "The installation medium was changed: %s is not the file its manifest lists (%s). Nothing "
     "from the medium is run.\n"},
    {"S_ERMEDIUM_UNLISTED",
     "The installation medium was changed: %s is not listed in its manifest, and the installer "
     "does not use it. Nothing from the medium is run.\n"},
    {"S_ERMEDIUM_MISSING",
     "The installation medium is incomplete: %s, which its manifest lists, is missing or cannot be "
     "read. Nothing from the medium is run.\n"},
    {"S_ERMEDIUM_NO_MANIFEST",
     "The installation medium cannot be verified: its manifest %s is missing or cannot be read. "
     "Nothing from the medium is run.\n"},
    {"S_ERMEDIUM_BAD_MANIFEST",
     "The installation medium cannot be verified: %s. Nothing from the medium is run.\n"},
    {"S_ERMEDIUM_ABOVE_ROOT",
     "The installation medium cannot be verified: its manifest lists files above the file system's "
     "root. Nothing from the medium is run.\n"},
    {"S_ERMEDIUM_NO_PATH",
     "The installation medium cannot be verified: the launcher cannot read its own path. Nothing "
     "from the medium is run.\n"},
    {"S_ERNOEXEC",
     "The installer cannot stage into %s: its file system is mounted so that no program may run "
     "from it (noexec), and the installer runs its unzip and Java from there. %s\n"},
    {"S_NOEXEC_SCRATCH", "Give -rscratchPath a directory on another file system."},
    {"S_NOEXEC_BOOTSTRAP_LOC", "Set BOOTSTRAP_LOC to a directory on another file system."},
    {"S_NOEXEC_TEMP", "Give -rscratchPath a directory on another file system, or set TEMP to one."},
    {"S_JAVA_IN_TEMP", "Java starts in %s: the installer's directory %s cannot be entered.\n"},
    {"S_ERJAVA_CWD",
     "Java cannot be started in the installer's directory %s: it cannot be entered.\n"},
    {"S_ERGIVEN_DEVICE",
     "%s %s names a device, not a directory; the installer stages only into a directory of its "
     "own.\n"},
    {"S_ERGIVEN_ROOT",
     "%s %s names the root of a drive or file system; the installer stages only into a directory "
     "of its own.\n"},
    {"S_ERGIVEN_BELOW",
     "%s %s would be made below %s: another user could change what the installer runs from it.\n"},
    {"S_ERSTAGE_LANDS",
     "The installer cannot stage %s into %s: it would land on %s, which was there before. Nothing "
     "has been staged; what a run that was killed staged there is yours to remove.\n"},
    {"S_ERJRE_VERSION",
     "JRE_VERSION \"%s\" is no plain directory name: the installer is not staged.\n"},
    {"S_ERUNZIP_START", "The unzip program %s cannot be started: %s\n"},
    {"S_ERJAVA_START", "Java (%s) cannot be started: %s\n"},
    {"S_LOG_NOT_KEPT",
     "The install log %s cannot be kept in the temporary directory; the directory %s is left as it "
     "is, with it.\n"},
    {"S_NOT_REMOVED", "The run could not remove %s.\n"},
    {"S_NOT_REMOVED_MORE", "... and %d more of the run's files.\n"},
    {"S_FREE_SPACE_UNKNOWN",
     "The free space in %s cannot be read; the installer files are copied all the same.\n"},
    {"S_LOGS_ELSEWHERE", "The logs are not written to %s: %s They are written to %s instead.\n"},
    {"S_LOG_NOT_OPENED", "The log %s cannot be opened: what it would hold is not kept.\n"},
    {"S_REG_NOT_WRITABLE", "The registry key %s cannot be opened for writing.\n"},
    {"S_REG_VALUE_NOT_WRITTEN", "The value %s cannot be written to the registry key %s.\n"},
    {"S_REG_VALUE_LEFT",
     "The registry value %s, written to test access, cannot be removed; remove it by hand.\n"},
    {"S_REG_KEY_NOT_MADE", "The key %s cannot be made below the registry key %s.\n"},
    {"S_REG_KEY_LEFT",
     "The registry key %s, made to test access, cannot be removed; remove it by hand.\n"},
    {"S_LOGS_NOWHERE", "The logs are not written to %s: %s No other place is left for them.\n"},
};
// The 69 keys of the launcher's messages, and those it added so that no run ends without
// saying why, in the user's language: the install log that a failed run keeps, too little
// room for the bootstrap, a copy of the bootstrap that failed, and every place, medium,
// name and program the run refuses.
static_assert(kMessageKeyCount == 108);

}  // namespace zorvex::messages
