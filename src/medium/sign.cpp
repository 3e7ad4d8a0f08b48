#include "medium/sign.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "manifest/manifest.h"
#include "medium/report.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zorvex::medium {

namespace fs = std::filesystem;

namespace {

bool IsPkcs11Uri(const std::string& text) { return text.rfind("pkcs11:", 0) == 0; }

// A key in a token: its URI (RFC 7512) and the certificate's (a URI or a file); the PIN
// never in a URI, which stands on command lines that every local user can read.
bool ValidTokenOptions(const SignOptions& o, std::string* error) {
  if (!o.pkcs12.empty()) {
    *error = "--sign-pkcs12 and --sign-pkcs11-module do not go together";
    return false;
  }
  if (!IsPkcs11Uri(o.key) || o.cert.empty()) {
    *error = "--sign-pkcs11-module LIB needs --sign-key pkcs11:URI and --sign-cert FILE or "
             "pkcs11:URI";
    return false;
  }
  for (const std::string& uri : {o.key, o.cert}) {
    std::string lower = uri;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (IsPkcs11Uri(uri) && lower.find("pin-value") != std::string::npos) {
      *error = "a PIN in a PKCS#11 URI would stand on a command line every local user can "
               "read: give it in --sign-password-file FILE or ZORVEX_SIGN_PASSWORD";
      return false;
    }
  }
  for (const std::string& file : {o.pkcs11_module, o.pkcs11_engine,
                                  IsPkcs11Uri(o.cert) ? std::string() : o.cert, o.password_file}) {
    if (!file.empty() && !fs::is_regular_file(manifest::PathOfUtf8(file))) {
      *error = file + " does not exist";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ValidSignOptions(const SignOptions& o, std::string* error) {
  if (!o.pkcs11_module.empty()) return ValidTokenOptions(o, error);
  if (IsPkcs11Uri(o.key) || IsPkcs11Uri(o.cert)) {
    *error = "a pkcs11: URI names a key or certificate in a token: give --sign-pkcs11-module LIB";
    return false;
  }
  if (!o.pkcs12.empty() && (!o.cert.empty() || !o.key.empty())) {
    *error = "give --sign-pkcs12 FILE, or --sign-cert FILE with --sign-key FILE, not both";
    return false;
  }
  if (o.pkcs12.empty() && (o.cert.empty() || o.key.empty())) {
    *error = "--sign-cert FILE and --sign-key FILE go together";
    return false;
  }
  for (const std::string& file : {o.cert, o.key, o.pkcs12, o.password_file}) {
    if (!file.empty() && !fs::is_regular_file(manifest::PathOfUtf8(file))) {
      *error = file + " does not exist";
      return false;
    }
  }
  return true;
}

#ifdef _WIN32
int RunCaptured(const std::vector<std::string>&, std::string* output, int) {
  *output = "signing runs osslsigncode, which this Windows build does not start: sign on Linux";
  return -1;
}

namespace {

int PasswordPipe(const std::string&, std::string* error) {
  *error = "signing runs osslsigncode, which this Windows build does not start: sign on Linux";
  return -1;
}

void ClosePipe(int) {}

}  // namespace
#else
int RunCaptured(const std::vector<std::string>& argv, std::string* output, int timeout_seconds) {
  char pattern[] = "/tmp/zorvex-medium-output.XXXXXX";
  int fd = ::mkstemp(pattern);
  if (fd < 0) {
    *output = "no temporary file for " + argv[0] + "'s output";
    return -1;
  }
  ::unlink(pattern);
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  // The child reports a failed start through a pipe that its start closes.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ::close(fd);
    *output = "no pipe to start " + argv[0];
    return -1;
  }
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // The signer goes with the build: a build killed midway leaves no signer behind that
    // goes on writing into its working directory. A group of its own, so that a child that
    // does not end in time goes with what it started.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::setpgid(0, 0);
    int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) ::_exit(127);
    ::execvp(pointers[0], pointers.data());
    int error = errno;
    ssize_t written = ::write(report[1], &error, sizeof error);
    (void)written;
    ::_exit(127);
  }
  ::close(report[1]);
  int rc = pid < 0 ? errno : 0;
  if (pid > 0) {
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof error)) {
      rc = error;
      ::waitpid(pid, nullptr, 0);
    }
  }
  ::close(report[0]);
  int status = 0;
  bool timed_out = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  while (rc == 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  output->clear();
  char buffer[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) output->append(buffer, n);
  ::close(fd);
  if (rc != 0) {
    *output = argv[0] + " cannot be started (is it installed?)";
    return -1;
  }
  if (timed_out) {
    *output += argv[0] + " did not end within " + std::to_string(timeout_seconds) +
               " seconds and was stopped.\n";
    return kTimedOut;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

namespace {

// The password in a pipe that osslsigncode reads as a file (/dev/fd/N): it never lands on a
// disk, so no ending of the build, however sudden, can leave it there. -1 with *error when
// no pipe can be made or the password is larger than a pipe holds.
int PasswordPipe(const std::string& password, std::string* error) {
  int ends[2];
  if (::pipe(ends) != 0) {
    *error = std::string("no pipe for the signing key's password: ") + std::strerror(errno);
    return -1;
  }
  ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  ssize_t n = ::write(ends[1], password.data(), password.size());
  ::close(ends[1]);
  if (n != static_cast<ssize_t>(password.size())) {
    ::close(ends[0]);
    *error = "the signing key's password is too long";
    return -1;
  }
  return ends[0];
}

void ClosePipe(int fd) { ::close(fd); }

}  // namespace
#endif

namespace {

// Where the signer reads the password, PIN or passphrase: the options' file, or a pipe
// holding ZORVEX_SIGN_PASSWORD (its read end in *pipe, to be closed after the signer ran);
// "" when there is none. False with *error when no pipe can be had.
bool PasswordSource(const SignOptions& o, std::string* file, int* pipe, std::string* error) {
  *pipe = -1;
  *file = o.password_file;
  if (!file->empty()) return true;
  const char* password = std::getenv("ZORVEX_SIGN_PASSWORD");
  if (password == nullptr) return true;
  if ((*pipe = PasswordPipe(password, error)) < 0) return false;
  *file = "/dev/fd/" + std::to_string(*pipe);
  return true;
}

// The signing time: the options' own, else SOURCE_DATE_EPOCH when set, else none (now).
std::optional<int64_t> SigningTime(const SignOptions& o) {
  if (o.time) return o.time;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) return std::atoll(epoch);
  return std::nullopt;
}

}  // namespace

bool SignProgram(const SignOptions& o, const std::string& file, std::string* error) {
  const std::string signed_copy = file + ".signed";
  std::vector<std::string> argv = {"osslsigncode", "sign"};
  if (!o.pkcs11_module.empty()) {
    // The key never leaves the token: osslsigncode has it sign through the engine.
    argv.insert(argv.end(), {"-pkcs11module", o.pkcs11_module});
    if (!o.pkcs11_engine.empty()) argv.insert(argv.end(), {"-pkcs11engine", o.pkcs11_engine});
    argv.insert(argv.end(), {IsPkcs11Uri(o.cert) ? "-pkcs11cert" : "-certs", o.cert});
    argv.insert(argv.end(), {"-key", o.key});
  } else if (!o.pkcs12.empty()) {
    argv.insert(argv.end(), {"-pkcs12", o.pkcs12});
  } else {
    argv.insert(argv.end(), {"-certs", o.cert, "-key", o.key});
  }
  int pipe = -1;
  std::string password;
  if (!PasswordSource(o, &password, &pipe, error)) return false;
  if (!password.empty()) argv.insert(argv.end(), {"-readpass", password});
  if (const std::optional<int64_t> time = SigningTime(o)) {
    argv.insert(argv.end(), {"-time", std::to_string(*time)});
  }
  if (!o.timestamp_url.empty()) argv.insert(argv.end(), {"-ts", o.timestamp_url});
  argv.insert(argv.end(), {"-in", file, "-out", signed_copy});
  std::string output;
  int status = RunCaptured(argv, &output, o.timeout_seconds);
  if (pipe >= 0) ClosePipe(pipe);
  std::error_code ec;
  if (status != 0) {
    fs::remove(manifest::PathOfUtf8(signed_copy), ec);
    *error = "cannot sign " + file + ":\n" + output;
    if (status == kTimedOut && !o.timestamp_url.empty()) {
      *error = "cannot sign " + file + ": the time-stamp server " + o.timestamp_url +
               " did not answer within " + std::to_string(o.timeout_seconds) + " seconds.";
    }
    return false;
  }
  fs::rename(manifest::PathOfUtf8(signed_copy), manifest::PathOfUtf8(file), ec);
  if (ec) *error = "cannot replace " + file + " by its signed copy: " + ec.message();
  return !ec;
}

bool SignWithOpenPgp(const SignOptions& o, const std::string& file, std::string* error) {
  const std::string signature = file + ".sig";
  // Never a dialogue: the passphrase comes as given, or the key needs none.
  std::vector<std::string> argv = {"gpg",          "--batch",   "--no-tty",
                                   "--yes",        "--pinentry-mode", "loopback",
                                   "--local-user", o.openpgp_key};
  int pipe = -1;
  std::string password;
  if (!PasswordSource(o, &password, &pipe, error)) return false;
  if (!password.empty()) argv.insert(argv.end(), {"--passphrase-file", password});
  if (const std::optional<int64_t> time = SigningTime(o)) {
    argv.insert(argv.end(),
                {"--faked-system-time", std::to_string(*time) + "!", "--ignore-time-conflict"});
  }
  argv.insert(argv.end(), {"--detach-sign", "--output", signature, file});
  std::string output;
  const int status = RunCaptured(argv, &output, o.timeout_seconds);
  if (pipe >= 0) ClosePipe(pipe);
  if (status == 0) return true;
  std::error_code ec;
  fs::remove(manifest::PathOfUtf8(signature), ec);
  *error = "cannot sign " + file + " with the OpenPGP key " + o.openpgp_key + ":\n" + output;
  return false;
}

namespace {

// The text after `label` on the first line that holds it after `from`, or "".
std::string ValueAfter(const std::string& text, const std::string& label, size_t from = 0) {
  size_t at = text.find(label, from);
  if (at == std::string::npos) return "";
  at += label.size();
  return text.substr(at, text.find('\n', at) - at);
}

// Why osslsigncode could not verify a signature, in a few words of its own.
std::string VerifyFailure(const std::string& out) {
  if (out.find("Initialization error") != std::string::npos ||
      out.find("Corrupt") != std::string::npos) {
    return "it is no program osslsigncode can read";
  }
  if (out.find("Unable to extract") != std::string::npos) return "its signature cannot be read";
  if (out.find("digest failure") != std::string::npos ||
      out.find("signature failure") != std::string::npos) {
    return "its signature does not match what it signs";
  }
  if (out.find("unable to get local issuer certificate") != std::string::npos) {
    return "its signature cannot be verified here, as its certificate chain leads to no "
           "certificate it carries or this system trusts (give --ca-file)";
  }
  return "osslsigncode cannot verify it";
}

// Whether each certificate in the PEM file `carried` verifies up to one of them, every
// signature checked, the self-signed root's own too: taken as trust anchors, OpenSSL would
// not check a root's own signature unless asked, and a carried certificate with a byte of
// it changed would pass.
bool CarriedCertificatesIntact(const std::string& carried, const fs::path& dir) {
  std::ifstream in(manifest::PathOfUtf8(carried), std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
  int count = 0;
  for (size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at)) {
    const size_t stop = pem.find(end, at);
    if (stop == std::string::npos) return false;
    const fs::path one = dir / ("carried-" + std::to_string(count++) + ".pem");
    std::ofstream(one, std::ios::binary) << pem.substr(at, stop + end.size() - at) << "\n";
    at = stop + end.size();
    std::string out;
    if (RunCaptured({"openssl", "verify", "-check_ss_sig", "-CAfile", carried, "-untrusted",
                     carried, one.string()},
                    &out) != 0) {
      return false;
    }
  }
  return count > 0;
}

// True when the signature verifies against the certificates it carries (a self-signed
// signer, or a chain whose root it carries): without a CA file osslsigncode fails alike for
// an intact self-signed program and for one whose signature bytes were changed, and this
// tells them apart. A chain to a root neither carried nor trusted cannot be verified here.
bool SignatureSound(const std::string& path, const std::string& out, std::string* why) {
  *why = VerifyFailure(out);
  if (out.find("Signer #0:") == std::string::npos ||
      out.find("PKCS7_signatureVerify") != std::string::npos) {
    return false;
  }
  std::error_code ec;
  fs::path dir;
  for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
    fs::path candidate =
        fs::temp_directory_path(ec) /
        ("zorvex-medium-signature-" + std::to_string(std::random_device()()));
    if (fs::create_directory(candidate, ec)) dir = candidate;
  }
  if (dir.empty()) return false;
  fs::permissions(dir, fs::perms::owner_all, ec);
  const std::string signature = (dir / "signature.pem").string();
  const std::string carried = (dir / "carried.pem").string();
  std::string own;
  bool sound =
      RunCaptured({"osslsigncode", "extract-signature", "-pem", "-in", path, "-out", signature},
                  &own) == 0 &&
      RunCaptured({"openssl", "pkcs7", "-in", signature, "-print_certs", "-out", carried}, &own) ==
          0;
  if (sound) {
    sound = RunCaptured({"osslsigncode", "verify", "-in", path, "-CAfile", carried}, &own) == 0;
    if (!sound) *why = VerifyFailure(own);
  }
  if (sound && !CarriedCertificatesIntact(carried, dir)) {
    sound = false;
    *why = "a certificate it carries is damaged: its own signature does not verify";
  }
  fs::remove_all(dir, ec);
  return sound;
}

// What osslsigncode says of one program's Authenticode signature, as findings. Only its
// success with a matching hash counts as signed; a signature that cannot be read, parsed
// or verified is an error, unsigned a warning.
void ReportSignature(const std::string& name, const std::string& path, const std::string& ca,
                     Report* r) {
  std::vector<std::string> argv = {"osslsigncode", "verify", "-in", path};
  if (!ca.empty()) argv.insert(argv.end(), {"-CAfile", ca});
  std::string out;
  const int status = RunCaptured(argv, &out);
  if (status == kTimedOut) {
    r->Error("Signatures", name + ": osslsigncode did not end in time; the signature is unknown.");
    return;
  }
  if (status < 0) {
    r->Info("Signatures", name + ": cannot verify here (" + out + ").");
    return;
  }
  if (out.find("No signature found") != std::string::npos) {
    r->Warn("Signatures", name +
                              " is not signed: Windows names an unknown publisher when it asks for "
                              "administrator rights, and SmartScreen stops most users.");
    return;
  }
  if (out.find("MISMATCH") != std::string::npos) {
    r->Error("Signatures", name + " was changed after it was signed: its hash does not match.");
    return;
  }
  std::string why;
  if (status != 0 && !SignatureSound(path, out, &why)) {
    r->Error("Signatures", name + " is not soundly signed: " + why + ".");
    return;
  }
  const size_t signer = out.find("Signer #0:", out.find("Signer's certificate:"));
  const std::string subject = ValueAfter(out, "Subject: ", signer);
  const std::string issuer = ValueAfter(out, "Issuer : ", signer);
  const std::string time = ValueAfter(out, "Signing time: ");
  const std::string who = name + " is signed by " + subject + (time.empty() ? "" : " at " + time) +
                          ", and its hash matches";
  if (status == 0) {
    r->Info("Signatures",
            who + "; the certificate chain verifies against " +
                (ca.empty() ? std::string("this system's trusted certificates") : ca) + ".");
  } else if (!ca.empty()) {
    r->Error("Signatures", who + ", but the certificate chain does not verify against " + ca + ".");
  } else {
    r->Info("Signatures",
            who + "; the certificate chain is " +
                (subject == issuer ? "self-signed" : "rooted in a certificate it carries") +
                " (give --ca-file to verify it against a trusted CA).");
  }
}

// What gpgv says of the launcher's detached signature, read from its status lines.
void ReportOpenPgpSignature(const std::string& dir, const std::string& keyring, bool required,
                            Report* r) {
  const fs::path launcher = manifest::PathOfUtf8(dir) / "setup";
  const fs::path signature = manifest::PathOfUtf8(dir) / "setup.sig";
  if (!fs::exists(signature)) {
    const std::string text =
        "setup is not signed: nothing shows a user that the medium is the one you made "
        "(build with --gpg-key ID).";
    if (required) {
      r->Warn("Signatures", text);
    } else {
      r->Info("Signatures", text);
    }
    return;
  }
  if (keyring.empty()) {
    r->Info("Signatures", "setup carries an OpenPGP signature (setup.sig); give --keyring FILE, "
                          "the keys it must be made by, to verify it.");
    return;
  }
  // gpgv takes a keyring without a directory from its own home: named as a path.
  const std::string ring = fs::absolute(manifest::PathOfUtf8(keyring)).string();
  std::string out;
  const int status = RunCaptured({"gpgv", "--status-fd", "1", "--keyring", ring,
                                  signature.string(), launcher.string()},
                                 &out);
  const std::string good = ValueAfter(out, "[GNUPG:] GOODSIG ");
  if (status == kTimedOut || status < 0) {
    r->Error("Signatures", "setup: gpgv cannot verify its signature here (" + out + ").");
  } else if (status == 0 && !good.empty()) {
    const std::string who = good.substr(good.find(' ') + 1);
    r->Info("Signatures", "setup is signed by " + who + " (key " + good.substr(0, good.find(' ')) +
                              "), a key in " + keyring + ", and the signature matches.");
  } else if (out.find("[GNUPG:] BADSIG") != std::string::npos) {
    r->Error("Signatures", "setup was changed after it was signed: its signature does not match.");
  } else if (out.find("[GNUPG:] NO_PUBKEY") != std::string::npos) {
    r->Error("Signatures", "setup is signed by a key that is not in " + keyring +
                               ": the signature cannot vouch for the medium.");
  } else {
    r->Error("Signatures", "setup is not soundly signed: gpgv cannot verify setup.sig.");
  }
}

}  // namespace

void CheckSignatures(const std::string& dir, const std::string& ca, const std::string& keyring,
                     bool required, Report* r) {
  if (fs::exists(manifest::PathOfUtf8(dir) / "setup")) {
    ReportOpenPgpSignature(dir, keyring, required, r);
    return;
  }
  bool any = false;
  for (const char* name : {"setup.exe", "unzip.exe"}) {
    const fs::path file = manifest::PathOfUtf8(dir) / manifest::PathOfUtf8(name);
    if (!fs::exists(file)) continue;
    const std::string path = file.string();
    any = true;
    ReportSignature(name, path, ca, r);
  }
  if (!any) r->Info("Signatures", "No launcher in " + dir + ": nothing is signed.");
}

bool ExtractSignedData(const std::string& program, const std::string& data, int timeout_seconds,
                       std::string* error) {
  std::string out;
  if (RunCaptured({"osslsigncode", "extract-data", "-h", "sha256", "-in", program, "-out", data},
                  &out, timeout_seconds) == 0) {
    return true;
  }
  std::error_code ec;
  fs::remove(manifest::PathOfUtf8(data), ec);
  *error = "cannot write the data " + program + "'s signature must cover:\n" + out;
  return false;
}

bool AttachSignature(const std::string& program, const std::string& signature,
                     const std::string& ca, int timeout_seconds, std::string* error) {
  const std::string copy = program + ".signed";
  std::string out;
  // Its own status says little (it fails a chain it cannot verify): what counts is the
  // check of the copy below.
  RunCaptured({"osslsigncode", "attach-signature", "-sigin", signature, "-in", program, "-out",
               copy},
              &out, timeout_seconds);
  std::error_code ec;
  std::string why = "osslsigncode could not attach it:\n" + out;
  bool sound = fs::exists(manifest::PathOfUtf8(copy), ec);
  if (sound) {
    std::vector<std::string> argv = {"osslsigncode", "verify", "-in", copy};
    if (!ca.empty()) argv.insert(argv.end(), {"-CAfile", ca});
    const int status = RunCaptured(argv, &out, timeout_seconds);
    if (out.find("MISMATCH") != std::string::npos) {
      sound = false;
      why = "it was made for other bytes than this program's (the hash does not match)";
    } else if (status != 0) {
      sound = ca.empty() && SignatureSound(copy, out, &why);
      if (!ca.empty()) why = VerifyFailure(out);
    }
  }
  if (!sound) {
    fs::remove(manifest::PathOfUtf8(copy), ec);
    *error = "the signature " + signature + " is refused for " + program + ": " + why +
             ". Nothing was changed.";
    return false;
  }
  fs::rename(manifest::PathOfUtf8(copy), manifest::PathOfUtf8(program), ec);
  if (ec) *error = "cannot replace " + program + " by its signed copy: " + ec.message();
  return !ec;
}

}  // namespace zorvex::medium
