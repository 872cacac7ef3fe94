// A medium's proof of origin: the archive's SHA-256 written into the
// program's ARCHIVE_DIGEST resource (so that the program's signature covers
// the archive too), the Authenticode signature of the program through
// osslsigncode, and the checks of both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/sha256.h"

constexpr const char SIGN_TOOL[] = "osslsigncode";

// A medium's two files, and the description the program's version
// information (and its signature) gives.
constexpr const char MEDIUM_PROGRAM[] = "WBOOT.EXE";
constexpr const char MEDIUM_ARCHIVE[] = "W_SETUP.WPK";
constexpr const char PROGRAM_DESCRIPTION[] = "Wendle setup starter";

// A private folder under the temporary folder, removed with what it holds
// when the object goes.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string at(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a tool with its output (both streams) into the file `output`;
// standard input stays wpk's, so a password can come through a pipe. Its
// exit status, or -1 when it could not be run.
int run_tool(const std::vector<std::string>& args, const std::string& output);

// The SHA-256 of a file. False after saying why in `error`.
bool file_sha256(const std::string& path, uint8_t digest[SHA256_DIGEST_SIZE], std::string* error);

// Writes the archive's digest into the program file's ARCHIVE_DIGEST room,
// in place. False when the program has no such room, or cannot be written.
bool bind_program(const std::string& program, const uint8_t digest[SHA256_DIGEST_SIZE],
                  std::string* error);

// The digest a program carries: false when it has no room or an empty one.
bool bound_digest(const std::string& program, uint8_t digest[SHA256_DIGEST_SIZE]);

struct SignRequest {
    std::string pkcs12;        // certificate and key
    std::string password_file; // empty: no password; "-": standard input
    std::string timestamp_url; // empty: no time stamp
    bool fixed_time = false;   // sign at `time` (seconds since 1970), for reproducible bytes
    int64_t time = 0;
};

// Signs `in` (SHA-256 Authenticode) into `out` (which may exist: it is
// overwritten), once the signature is verified. False after saying why; the key and the password
// never appear in an argument list or a message.
bool sign_program(const SignRequest& request, const std::string& in, const std::string& out,
                  std::string* error);

struct SignatureReport {
    bool is_signed = false; // carries a signature
    bool intact = false;    // the signature is sound and matches the program's bytes
    bool trusted = false;   // its certificate chain ends at a trusted certificate
    std::string signer;     // the signing certificate's subject
    std::string problem;    // why it is not intact or not trusted
};

// What the program's signature says. `trust` is a PEM file of trusted
// certificates; empty: the system's.
SignatureReport inspect_signature(const std::string& program, const std::string& trust);
