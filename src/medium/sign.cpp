#include "medium/sign.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "manifest/manifest.h"
#include "medium/host.h"
#include "medium/manifest_tool.h"
#include "medium/program_arch.h"
#include "medium/report.h"

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
    *error =
        "--sign-pkcs11-module LIB needs --sign-key pkcs11:URI and --sign-cert FILE or "
        "pkcs11:URI";
    return false;
  }
  for (const std::string& uri : {o.key, o.cert}) {
    std::string lower = uri;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (IsPkcs11Uri(uri) && lower.find("pin-value") != std::string::npos) {
      *error =
          "a PIN in a PKCS#11 URI would stand on a command line every local user can "
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

std::optional<std::string> TakeSignPassword() {
  const char* password = std::getenv("ZORVEX_SIGN_PASSWORD");
  if (password == nullptr) return std::nullopt;
  std::string taken = password;
  // Wiped where it stood too: the environment the process started with stays readable
  // (/proc/PID/environ) after it leaves the environment's list.
  std::memset(const_cast<char*>(password), 0, std::strlen(password));
  // No child needs it in its environment (signers read it from a pipe), and a process that
  // holds it leaves no core file and lets no other process of the user read its memory.
  host::Unsetenv("ZORVEX_SIGN_PASSWORD");
  host::KeepMemoryPrivate();
  return taken;
}

namespace {

// Where the signer reads the password, PIN or passphrase: the options' file, or a pipe
// holding the one taken from ZORVEX_SIGN_PASSWORD (its read end in *pipe, to be closed
// after the signer ran); "" when there is none. False with *error when no pipe can be had.
bool PasswordSource(const SignOptions& o, std::string* file, int* pipe, std::string* error) {
  *pipe = -1;
  *file = o.password_file;
  if (!file->empty()) return true;
  if (!o.password) return true;
  if ((*pipe = host::PasswordPipe(*o.password, error)) < 0) return false;
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
  // A token's module rewrites the token's files as it logs in: never killed midway.
  int status = RunCaptured(argv, &output, o.timeout_seconds, !o.pkcs11_module.empty());
  if (pipe >= 0) host::ClosePipe(pipe);
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

namespace {

// "2023-11-14 22:13:20 UTC"
std::string UtcText(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm tm = host::UtcTime(t);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

// The fields of the first line of gpg's --with-colons listing that begins with `record`.
std::vector<std::string> ColonRecord(const std::string& listing, const std::string& record) {
  std::vector<std::string> fields;
  for (size_t at = 0; at < listing.size();) {
    const size_t end = std::min(listing.find('\n', at), listing.size());
    if (listing.compare(at, record.size() + 1, record + ":") == 0) {
      std::string line = listing.substr(at, end - at);
      for (size_t from = 0;;) {
        const size_t colon = line.find(':', from);
        fields.push_back(line.substr(from, colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
      }
      return fields;
    }
    at = end + 1;
  }
  return fields;
}

// Whether an agent of GNUPGHOME runs now (without starting one).
bool AgentRuns() {
  std::string out;
  return RunCaptured({"gpg-connect-agent", "--no-autostart", "GETINFO pid", "/bye"}, &out) == 0 &&
         out.rfind("D ", 0) == 0;
}

// The agent keeps a passphrase it was given for a while, for any process of the user: it
// forgets the key's, and the agent the build started ends.
void LeaveNoPassphraseBehind(const std::string& listing, bool started_agent) {
  std::string out;
  if (started_agent) {
    RunCaptured({"gpgconf", "--kill", "gpg-agent"}, &out);
    return;
  }
  for (size_t at = listing.find("\ngrp:"); at != std::string::npos;
       at = listing.find("\ngrp:", at + 1)) {
    const std::vector<std::string> grp = ColonRecord(listing.substr(at + 1), "grp");
    if (grp.size() > 9 && !grp[9].empty()) {
      RunCaptured({"gpg-connect-agent", "--no-autostart",
                   "CLEAR_PASSPHRASE --mode=normal " + grp[9], "/bye"},
                  &out);
    }
  }
}

// Whether the detached signature of `file` verifies with gpgv and the public part of the
// key alone; else false with *output saying what gpgv said.
bool VerifiesWithGpgv(const SignOptions& o, const std::string& file, const std::string& signature,
                      std::string* output) {
  const fs::path dir = host::PrivateDirectory();
  const std::string keyring = (dir / "key.gpg").string();
  std::string out;
  const bool good =
      !dir.empty() &&
      RunCaptured({"gpg", "--batch", "--yes", "--output", keyring, "--export", o.openpgp_key}, &out,
                  o.timeout_seconds) == 0 &&
      RunCaptured({"gpgv", "--status-fd", "1", "--keyring", keyring, signature, file}, &out,
                  o.timeout_seconds) == 0 &&
      out.find("[GNUPG:] GOODSIG ") != std::string::npos;
  if (!good) *output = "the signature made does not verify with gpgv:\n" + out;
  std::error_code ec;
  if (!dir.empty()) fs::remove_all(dir, ec);
  return good;
}

}  // namespace

bool SignWithOpenPgp(const SignOptions& o, const std::string& file, std::string* error) {
  const std::string signature = file + ".sig";
  // Asked before gpg first runs, which starts an agent when none runs.
  const bool agent_ran = AgentRuns();
  std::string listing;
  struct AgentCleanup {
    const std::string& listing;
    bool started;
    ~AgentCleanup() { LeaveNoPassphraseBehind(listing, started); }
  } cleanup{listing, !agent_ran};
  if (RunCaptured({"gpg", "--batch", "--with-colons", "--fixed-list-mode", "--with-keygrip",
                   "--list-secret-keys", o.openpgp_key},
                  &listing, o.timeout_seconds) != 0 ||
      ColonRecord(listing, "sec").size() < 6) {
    *error = "cannot sign " + file + ": no secret OpenPGP key " + o.openpgp_key +
             " in GNUPGHOME:\n" + listing;
    return false;
  }
  // A signature older than its key verifies nowhere ("time conflict"): refused here.
  const std::optional<int64_t> time = SigningTime(o);
  const int64_t created = std::atoll(ColonRecord(listing, "sec")[5].c_str());
  if (time && *time < created) {
    *error = "cannot sign " + file + ": the signing time " + UtcText(*time) +
             " (--sign-time or SOURCE_DATE_EPOCH) is before the key " + o.openpgp_key +
             " was made, " + UtcText(created) + "; no one could verify such a signature";
    return false;
  }
  // Never a dialogue: the passphrase comes as given, or the key needs none.
  std::vector<std::string> argv = {"gpg",          "--batch",         "--no-tty",
                                   "--yes",        "--pinentry-mode", "loopback",
                                   "--local-user", o.openpgp_key};
  int pipe = -1;
  std::string password;
  if (!PasswordSource(o, &password, &pipe, error)) return false;
  if (!password.empty()) argv.insert(argv.end(), {"--passphrase-file", password});
  if (time) argv.insert(argv.end(), {"--faked-system-time", std::to_string(*time) + "!"});
  argv.insert(argv.end(), {"--detach-sign", "--output", signature, file});
  std::string output;
  int status = RunCaptured(argv, &output, o.timeout_seconds);
  if (pipe >= 0) host::ClosePipe(pipe);
  // What the build made must verify, as users will verify it: with gpgv and the key's
  // public part alone.
  if (status == 0 && !VerifiesWithGpgv(o, file, signature, &output)) status = 1;
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

// Each certificate of a PEM file in a file of its own in `dir` (the tools take one at a
// time), their paths in *each. False when the file cannot be read whole, a certificate is
// cut short, or one cannot be written.
bool EachCertificate(const std::string& pem_file, const fs::path& dir,
                     std::vector<std::string>* each) {
  std::string pem, error;
  if (!ReadWholeFile(manifest::PathOfUtf8(pem_file), &pem, &error)) return false;
  const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
  for (size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at)) {
    const size_t stop = pem.find(end, at);
    if (stop == std::string::npos) return false;
    const fs::path one = dir / ("certificate-" + std::to_string(each->size()) + ".pem");
    if (!WriteWholeFile(one, pem.substr(at, stop + end.size() - at) + "\n", &error)) return false;
    each->push_back(one.string());
    at = stop + end.size();
  }
  return true;
}

// Whether each certificate in the PEM file `carried` verifies up to one of them, every
// signature checked, the self-signed root's own too: taken as trust anchors, OpenSSL would
// not check a root's own signature unless asked, and a carried certificate with a byte of
// it changed would pass.
bool CarriedCertificatesIntact(const std::string& carried, const fs::path& dir) {
  std::vector<std::string> each;
  if (!EachCertificate(carried, dir, &each) || each.empty()) return false;
  for (const std::string& one : each) {
    std::string out;
    if (RunCaptured(
            {"openssl", "verify", "-check_ss_sig", "-CAfile", carried, "-untrusted", carried, one},
            &out) != 0) {
      return false;
    }
  }
  return true;
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
  const fs::path dir = host::PrivateDirectory();
  if (dir.empty()) return false;
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
// True when it verified a sound signature.
bool ReportSignature(const std::string& name, const std::string& path, const std::string& ca,
                     Report* r) {
  std::vector<std::string> argv = {"osslsigncode", "verify", "-in", path};
  if (!ca.empty()) argv.insert(argv.end(), {"-CAfile", ca});
  std::string out;
  const int status = RunCaptured(argv, &out);
  if (status == kTimedOut) {
    r->Error("Signatures", name + ": osslsigncode did not end in time; the signature is unknown.");
    return false;
  }
  if (status < 0) {
    r->Info("Signatures", name + ": cannot verify here (" + out + ").");
    return false;
  }
  if (out.find("No signature found") != std::string::npos) {
    r->Warn("Signatures", name +
                              " is not signed: Windows names an unknown publisher when it asks for "
                              "administrator rights, and SmartScreen stops most users.");
    return false;
  }
  if (out.find("MISMATCH") != std::string::npos) {
    r->Error("Signatures", name + " was changed after it was signed: its hash does not match.");
    return false;
  }
  std::string why;
  if (status != 0 && !SignatureSound(path, out, &why)) {
    r->Error("Signatures", name + " is not soundly signed: " + why + ".");
    return false;
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
    return false;
  } else {
    r->Info("Signatures",
            who + "; the certificate chain is " +
                (subject == issuer ? "self-signed" : "rooted in a certificate it carries") +
                " (give --ca-file to verify it against a trusted CA).");
  }
  return true;
}

// The bytes of the base64 text from `at` to the end of the armor ("-----END", or an
// OpenPGP checksum line "=XXXX"), line breaks skipped.
std::string Base64Body(const std::string& text, size_t at) {
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' || (c == '=' && i > 0 && text[i - 1] == '\n')) break;
    const int v = c >= 'A' && c <= 'Z'   ? c - 'A'
                  : c >= 'a' && c <= 'z' ? c - 'a' + 26
                  : c >= '0' && c <= '9' ? c - '0' + 52
                  : c == '+'             ? 62
                  : c == '/'             ? 63
                                         : -1;
    if (v < 0) continue;  // line breaks, padding
    bits = bits << 6 | static_cast<uint32_t>(v);
    if (++count % 4 == 0) {
      bytes.push_back(static_cast<char>(bits >> 16));
      bytes.push_back(static_cast<char>(bits >> 8));
      bytes.push_back(static_cast<char>(bits));
    }
  }
  if (count % 4 == 2) bytes.push_back(static_cast<char>(bits >> 4));
  if (count % 4 == 3) {
    bytes.push_back(static_cast<char>(bits >> 10));
    bytes.push_back(static_cast<char>(bits >> 2));
  }
  return bytes;
}

// The keys of an armored OpenPGP key block ("-----BEGIN PGP PUBLIC KEY BLOCK-----"), which
// gpgv does not read, as the binary keyring it does; "" when `text` is no such block.
std::string Dearmored(const std::string& text) {
  size_t at = text.find("-----BEGIN PGP PUBLIC KEY BLOCK-----");
  if (at == std::string::npos) return "";
  // The armor headers (Comment:, Version:) end at the first empty line.
  const size_t lf = text.find("\n\n", at), crlf = text.find("\r\n\r\n", at);
  at = std::min(lf, crlf);
  return at == std::string::npos ? "" : Base64Body(text, at);
}

// The keyring as gpgv reads it, at *ring: the file itself when it is a binary keyring, or
// its armored keys in binary in `scratch`. False with *why naming the form it is not.
bool UsableKeyring(const std::string& keyring, const fs::path& scratch, std::string* ring,
                   std::string* why) {
  std::string text, error;
  if (!fs::is_regular_file(manifest::PathOfUtf8(keyring)) ||
      !ReadWholeFile(manifest::PathOfUtf8(keyring), &text, &error) || text.empty()) {
    *why = "the keyring " + keyring + " cannot be read";
    return false;
  }
  // A binary OpenPGP packet begins with its tag byte, whose top bit is set.
  if ((static_cast<unsigned char>(text[0]) & 0x80) != 0) {
    *ring = fs::absolute(manifest::PathOfUtf8(keyring)).string();
    return true;
  }
  const std::string keys = Dearmored(text);
  if (keys.empty() || (static_cast<unsigned char>(keys[0]) & 0x80) == 0) {
    *why = "the keyring " + keyring +
           " is neither an OpenPGP keyring nor an armored public key block (gpg --export, "
           "with or without --armor, writes either)";
    return false;
  }
  *ring = (scratch / "keyring.gpg").string();
  if (!WriteWholeFile(*ring, keys, &error)) {
    *why = error;
    return false;
  }
  return true;
}

// A finding that is a warning when the user asked for signatures, else a note.
void WarnIf(bool required, const std::string& text, Report* r) {
  if (required) {
    r->Warn("Signatures", text);
  } else {
    r->Info("Signatures", text);
  }
}

// What gpgv says of the launcher's detached signature, read from its status lines. True
// when it verified it against the keyring.
bool ReportOpenPgpSignature(const std::string& dir, const std::string& keyring, bool required,
                            Report* r) {
  const fs::path launcher = manifest::PathOfUtf8(dir) / "setup";
  const fs::path signature = manifest::PathOfUtf8(dir) / "setup.sig";
  if (!fs::exists(signature)) {
    const std::string text =
        "setup is not signed: nothing shows a user that the medium is the one you made "
        "(build with --gpg-key ID).";
    WarnIf(required, text, r);
    return false;
  }
  if (keyring.empty()) {
    const std::string text =
        "setup carries an OpenPGP signature (setup.sig), not verified: give "
        "--keyring FILE, the keys it must be made by, to verify it.";
    WarnIf(required, text, r);
    return false;
  }
  const fs::path scratch = host::PrivateDirectory();
  if (scratch.empty()) {
    r->Error("Signatures", "setup: no private temporary directory to verify its signature in.");
    return false;
  }
  std::string ring, why, out;
  if (!UsableKeyring(keyring, scratch, &ring, &why)) {
    std::error_code ec;
    fs::remove_all(scratch, ec);
    r->Error("Signatures", "setup: " + why + ".");
    return false;
  }
  const int status = RunCaptured(
      {"gpgv", "--status-fd", "1", "--keyring", ring, signature.string(), launcher.string()}, &out);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  const std::string good = ValueAfter(out, "[GNUPG:] GOODSIG ");
  if (status == kTimedOut || status < 0) {
    r->Error("Signatures", "setup: gpgv cannot verify its signature here (" + out + ").");
  } else if (status == 0 && !good.empty()) {
    const std::string who = good.substr(good.find(' ') + 1);
    r->Info("Signatures", "setup is signed by " + who + " (key " + good.substr(0, good.find(' ')) +
                              "), a key in " + keyring + ", and the signature matches.");
    return true;
  } else if (out.find("[GNUPG:] BADSIG") != std::string::npos) {
    r->Error("Signatures", "setup was changed after it was signed: its signature does not match.");
  } else if (out.find("[GNUPG:] NO_PUBKEY") != std::string::npos) {
    r->Error("Signatures", "setup is signed by a key that is not in " + keyring +
                               ": the signature cannot vouch for the medium.");
  } else {
    r->Error("Signatures", "setup is not soundly signed: gpgv cannot verify setup.sig.");
  }
  return false;
}

}  // namespace

void CheckSignatures(const std::string& dir, const std::string& ca, const std::string& keyring,
                     bool required, Report* r) {
  // Every program that is there is judged, whatever lies beside it: a file that only looks
  // like another kind of medium's launcher must not turn the check away from the programs
  // that would run.
  const fs::path disk = manifest::PathOfUtf8(dir);
  std::error_code ec;
  auto present = [&](const char* name) {
    const bool there = fs::exists(fs::symlink_status(disk / name, ec));
    return there || (ec.value() != 0 && ec != std::errc::no_such_file_or_directory);
  };
  const bool windows = present("setup.exe") || present("unzip.exe");
  const bool for_linux = present("setup") || present("setup.sig");
  if (windows && for_linux) {
    // Which of them is the launcher, its header says: the rest is what does not belong.
    const MediumTarget target = MediumTargetOf(disk);
    r->Error(
        "Signatures",
        "The medium holds a Windows launcher's programs (setup.exe, unzip.exe) "
        "and a Linux launcher's files (setup, setup.sig): one medium has one "
        "launcher; remove what does not belong to it." +
            (target.system == System::kUnknown ? std::string()
                                               : " Its launcher is " + target.launcher + ", a " +
                                                     SystemName(target.system) + " program."));
  }
  size_t verified = 0;
  if (windows) {
    for (const char* name : {"setup.exe", "unzip.exe"}) {
      if (!present(name)) {
        // The launcher must be there; a missing unzip the whole check reports in its own words.
        if (required && std::string(name) == "setup.exe") {
          r->Error("Signatures", std::string(name) + " is missing from " + dir +
                                     ": a Windows medium needs it, signed.");
        }
        continue;
      }
      if (ReportSignature(name, (disk / name).string(), ca, r)) ++verified;
    }
  }
  if (for_linux || !windows) {
    if (!present("setup")) {
      const std::string text =
          "No launcher (setup.exe or setup) in " + dir + ": nothing is signed.";
      (r->*(required ? &Report::Error : &Report::Info))("Signatures", text);
    } else if (ReportOpenPgpSignature(dir, keyring, required, r)) {
      ++verified;
    }
  }
  if (required && verified == 0 && r->ExitStatus() == 0) {
    r->Warn("Signatures", "No signature was verified: --signatures vouches for nothing here.");
  }
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

namespace {

// The content type a PKCS#7 signature's signer declares in its signed attributes, as dotted
// numbers; "" when there is none. The first such attribute is the signer's own: a time
// stamp's countersignature, which declares another type, follows it.
std::string SignedContentType(std::string der) {
  if (der.rfind("-----BEGIN", 0) == 0) der = Base64Body(der, der.find('\n'));
  static const std::string kContentType("\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x09\x03", 11);
  const size_t at = der.find(kContentType);
  // SET { OBJECT IDENTIFIER }, each of a short length.
  const size_t set = at + kContentType.size();
  if (at == std::string::npos || set + 4 > der.size() || der[set] != '\x31' ||
      der[set + 2] != '\x06')
    return "";
  const size_t length = static_cast<unsigned char>(der[set + 3]);
  if (length == 0 || length > 0x7f || set + 4 + length > der.size()) return "";
  const std::string oid = der.substr(set + 4, length);
  std::string dotted = std::to_string(static_cast<unsigned char>(oid[0]) / 40) + "." +
                       std::to_string(static_cast<unsigned char>(oid[0]) % 40);
  uint64_t arc = 0;
  for (size_t i = 1; i < oid.size(); ++i) {
    arc = arc << 7 | (static_cast<unsigned char>(oid[i]) & 0x7f);
    if ((static_cast<unsigned char>(oid[i]) & 0x80) == 0) {
      dotted += "." + std::to_string(arc);
      arc = 0;
    }
  }
  return dotted;
}

// The SHA-256 fingerprint of the certificate that made the program's Authenticode
// signature (the carried certificate of the signer's serial and issuer), or "".
std::string SignerOf(const std::string& program, int timeout_seconds) {
  std::string out;
  if (RunCaptured({"osslsigncode", "verify", "-in", program}, &out, timeout_seconds) < 0) return "";
  const size_t signer = out.find("Signer #0:", out.find("Signer's certificate:"));
  const std::string serial = ValueAfter(out, "Serial : ", signer);
  const std::string issuer = ValueAfter(out, "Issuer : ", signer);
  const fs::path dir = host::PrivateDirectory();
  if (serial.empty() || dir.empty()) return "";
  const std::string pem = (dir / "signature.pem").string(), certs = (dir / "certs.pem").string();
  std::string fingerprint;
  if (RunCaptured({"osslsigncode", "extract-signature", "-pem", "-in", program, "-out", pem}, &out,
                  timeout_seconds) == 0 &&
      RunCaptured({"openssl", "pkcs7", "-in", pem, "-print_certs", "-out", certs}, &out,
                  timeout_seconds) == 0) {
    std::vector<std::string> each;
    int matches = EachCertificate(certs, dir, &each) ? 0 : 2;  // unreadable: no one signer
    for (const std::string& one : each) {
      if (RunCaptured({"openssl", "x509", "-in", one, "-noout", "-serial", "-issuer",
                       "-fingerprint", "-sha256", "-nameopt", "compat"},
                      &out, timeout_seconds) == 0 &&
          ValueAfter(out, "serial=") == serial && ValueAfter(out, "issuer=") == issuer) {
        ++matches;
        fingerprint = ValueAfter(out, "Fingerprint=");
      }
    }
    if (matches != 1) fingerprint.clear();  // none, or two that could each be the signer
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return fingerprint;
}

}  // namespace

bool AttachSignature(const std::string& program, const std::string& signature,
                     const std::string& ca, int timeout_seconds, std::string* error,
                     const std::string& same_signer_as) {
  const std::string copy = program + ".signed";
  std::string out;
  {
    // An Authenticode signature signs SpcIndirectData and must say so in its signed
    // attributes: verifiers that hold to CMS refuse one that declares another type.
    std::string bytes;
    if (!ReadWholeFile(manifest::PathOfUtf8(signature), &bytes, error)) return false;
    const std::string type = SignedContentType(bytes);
    if (type != kSpcIndirectData) {
      *error = "the signature " + signature + " is refused for " + program +
               ": it declares the signed content type " + (type.empty() ? "(none)" : type) +
               " where an Authenticode signature declares SpcIndirectData (" + kSpcIndirectData +
               "), which strict verifiers require (have the service sign the program's "
               "Authenticode data as such). Nothing was changed.";
      return false;
    }
  }
  // Its own status says little (it fails a chain it cannot verify): what counts is the
  // check of the copy below.
  RunCaptured(
      {"osslsigncode", "attach-signature", "-sigin", signature, "-in", program, "-out", copy}, &out,
      timeout_seconds);
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
  if (sound && !same_signer_as.empty()) {
    const std::string signer = SignerOf(copy, timeout_seconds);
    if (signer.empty() || signer != SignerOf(same_signer_as, timeout_seconds)) {
      sound = false;
      why = "its signer is not the one that signed " +
            manifest::Utf8Of(manifest::PathOfUtf8(same_signer_as).filename()) +
            " (give --ca-file, the CA that vouches for both, to take two signers)";
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
