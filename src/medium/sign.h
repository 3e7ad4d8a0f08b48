// Authenticode signatures of a Windows medium's programs (setup.exe, unzip.exe): made and
// verified with osslsigncode (and openssl), run as children with argument vectors.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvex::medium {

class Report;

// How long a program the tools start may take by default: a time-stamp server that accepts
// and never answers must not hold a build for ever.
inline constexpr int kChildTimeoutSeconds = 300;
// RunCaptured's answer for a program that did not end in time (it is then killed).
inline constexpr int kTimedOut = -2;

struct SignOptions {
  std::string cert, key;                // PEM certificate (chain) and private key, or
  std::string pkcs12;                   // a PKCS#12 file holding both, or
  std::string pkcs11_module;            // a PKCS#11 module: key (and cert) are pkcs11: URIs in it
  std::string pkcs11_engine;            // the OpenSSL engine that reaches it; default: the system's
  std::string password_file;            // the key's password; else
  std::optional<std::string> password;  // the one taken from ZORVEX_SIGN_PASSWORD
  std::string openpgp_key;      // a Linux medium's: gpg's key (id or fingerprint) in GNUPGHOME
  std::string timestamp_url;    // a time-stamp server, optional
  std::optional<int64_t> time;  // a fixed signing time (seconds since 1970), optional
  int timeout_seconds = kChildTimeoutSeconds;  // how long osslsigncode may take
  bool Wanted() const {
    return !cert.empty() || !key.empty() || !pkcs12.empty() || !pkcs11_module.empty();
  }
};

// True when the options name a certificate and key (or a PKCS#12 file) that exist; else
// false with *error.
bool ValidSignOptions(const SignOptions& options, std::string* error);

// Signs the program in place, through a signed copy beside it that replaces it. The time is
// the options' own, else SOURCE_DATE_EPOCH when set. A password from the environment
// reaches osslsigncode through a pipe, never through a file or the command line. False
// with *error (osslsigncode's own output included) when it cannot, also when it does not
// end within the options' time (an unanswering time-stamp server is named).
bool SignProgram(const SignOptions& options, const std::string& file, std::string* error);

// Signing through a service that keeps the key (a cloud key vault, a CA's signing service):
// the data a program's signature must cover, written to `data` (osslsigncode's
// extract-data, SHA-256), for the service to sign; and its PKCS#7 signature attached to a
// copy of the program, kept only when it verifies for these bytes (against `ca`, or the
// certificates it carries). False with *error; the program is then as it was.
bool ExtractSignedData(const std::string& program, const std::string& data, int timeout_seconds,
                       std::string* error);
// A signature that declares another signed content type than SpcIndirectData is refused;
// with `same_signer_as` (a signed program), so is one made with another certificate.
bool AttachSignature(const std::string& program, const std::string& signature,
                     const std::string& ca, int timeout_seconds, std::string* error,
                     const std::string& same_signer_as = "");
// What an Authenticode signature signs (SPC_INDIRECT_DATA_OBJID).
inline constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";

// Signs a Linux medium's launcher with OpenPGP: a detached signature FILE.sig made by gpg
// with the options' openpgp_key. The launcher carries the manifest's digest, so the
// signature covers the whole medium. The passphrase reaches gpg as the password does
// osslsigncode (a file, or a pipe from ZORVEX_SIGN_PASSWORD); the signing time is the
// options' own, else SOURCE_DATE_EPOCH, else now. False with *error, nothing left.
bool SignWithOpenPgp(const SignOptions& options, const std::string& file, std::string* error);

// Runs a program with the argument vector, its standard output and error captured, for at
// most `timeout_seconds`. The exit status; kTimedOut when it did not end in time (it and
// what it started are killed); -1 when it cannot be started (always on Windows).
// With `let_finish` (a signer writing into a token, which a kill midway can destroy), it is
// never killed midway: when the build ends it and on a timeout it is sent SIGTERM, which it
// holds back until it ends, and only kFinishSeconds after a timeout is it killed.
int RunCaptured(const std::vector<std::string>& argv, std::string* output,
                int timeout_seconds = kChildTimeoutSeconds, bool let_finish = false);
inline constexpr std::chrono::seconds kFinishSeconds{30};

// Takes ZORVEX_SIGN_PASSWORD out of the environment (and wipes it where the process's
// initial environment held it), for the signers' pipes alone, and keeps the process from
// leaving a core file or being read by others while it holds it. The password, if set.
std::optional<std::string> TakeSignPassword();

// Reports what the Authenticode signatures of the Windows programs in `dir` (setup.exe,
// unzip.exe) are worth, verified against `ca` (a PEM file) or, without one, against the
// certificates they carry and this system's: signed and intact, unsigned (a warning), or
// changed, damaged or not verifiable (an error).
// A Linux launcher's OpenPGP signature (setup.sig) is verified with gpgv against `keyring`:
// good, bad (changed), made by a key not in the keyring, or missing (a warning when
// `required`, else a note).
void CheckSignatures(const std::string& dir, const std::string& ca, const std::string& keyring,
                     bool required, Report* r);

}  // namespace zorvex::medium
