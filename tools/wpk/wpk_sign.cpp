#include "wpk_sign.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "wpk_pe.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char SYSTEM_CERTIFICATES[] = "/etc/ssl/certs/ca-certificates.crt";

} // namespace

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "wpk-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
}

int run_tool(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::string text_of(const std::string& path) {
    std::string text;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char block[4096];
        size_t n;
        while ((n = fread(block, 1, sizeof block, f)) > 0) text.append(block, n);
        fclose(f);
    }
    return text;
}

// The last line of a tool's messages that says more than "Failed".
std::string reason_in(const std::string& text) {
    std::string reason;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line != "Failed") reason = line.substr(start);
        at = end + 1;
    }
    return reason;
}

// The value after "KEY: " on the first line that holds it.
std::string line_value(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return text.substr(start, text.find('\n', start) - start);
}

// Verifies with `trust` as the trusted certificates: "" when the signature
// verifies, otherwise the tool's reason. The tool's output goes to `log`.
std::string verify_against(const std::string& program, const std::string& trust,
                           const std::string& log) {
    const int status = run_tool(
        {SIGN_TOOL, "verify", "-ignore-timestamp", "-ignore-crl", "-CAfile", trust, "-in", program},
        log);
    if (status == 0) return "";
    if (status < 0) return std::string("cannot run ") + SIGN_TOOL;
    const std::string text = text_of(log);
    const std::string error = line_value(text, "Error: ");
    if (text.find("MISMATCH") != std::string::npos)
        return "the program's bytes do not match its signature";
    return error.empty() ? "the signature does not verify" : error;
}

} // namespace

bool file_sha256(const std::string& path, uint8_t digest[SHA256_DIGEST_SIZE], std::string* error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    Sha256 hash;
    sha256_start(hash);
    static uint8_t block[1 << 16];
    size_t n;
    while ((n = fread(block, 1, sizeof block, f)) > 0) sha256_update(hash, block, n);
    const bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        *error = path + ": cannot be read";
        return false;
    }
    sha256_finish(hash, digest);
    return true;
}

bool bind_program(const std::string& program, const uint8_t digest[SHA256_DIGEST_SIZE],
                  std::string* error) {
    PeImage image;
    const std::string fault = pe_load(program, &image);
    const size_t room = fault.empty() ? pe_archive_digest_offset(image) : 0;
    if (!room) {
        *error = program + ": " +
                 (fault.empty() ? "no room for the archive's digest (its ARCHIVE_DIGEST resource)"
                                : fault);
        return false;
    }
    FILE* f = fopen(program.c_str(), "r+b");
    const bool ok = f && fseek(f, long(room), SEEK_SET) == 0 &&
                    fwrite(digest, 1, SHA256_DIGEST_SIZE, f) == SHA256_DIGEST_SIZE;
    const int saved = errno;
    if (f && fclose(f) != 0 && ok) {
        *error = program + ": " + strerror(errno);
        return false;
    }
    if (!ok) *error = program + ": " + strerror(saved);
    return ok;
}

bool bound_digest(const std::string& program, uint8_t digest[SHA256_DIGEST_SIZE]) {
    PeImage image;
    if (!pe_load(program, &image).empty()) return false;
    const size_t room = pe_archive_digest_offset(image);
    if (!room) return false;
    uint8_t any = 0;
    for (size_t i = 0; i < SHA256_DIGEST_SIZE; ++i) any |= digest[i] = image.bytes[room + i];
    return any != 0;
}

bool sign_program(const SignRequest& request, const std::string& in, const std::string& out,
                  std::string* error) {
    ScratchFolder scratch;
    if (!scratch.ok()) {
        *error = std::string("no scratch folder: ") + strerror(errno);
        return false;
    }
    std::vector<std::string> args = {SIGN_TOOL, "sign",   "-pkcs12", request.pkcs12,
                                     "-h",      "sha256", "-n",      PROGRAM_DESCRIPTION};
    if (!request.password_file.empty()) {
        args.push_back("-readpass");
        args.push_back(request.password_file);
    }
    if (!request.timestamp_url.empty()) {
        args.push_back("-ts");
        args.push_back(request.timestamp_url);
    }
    if (request.fixed_time) {
        args.push_back("-time");
        args.push_back(std::to_string(request.time));
    }
    // The tool makes its output itself (it refuses to overwrite a file), so
    // it signs into the scratch folder; the result is copied into `out`.
    const std::string signed_copy = scratch.at("signed.exe");
    args.insert(args.end(), {"-in", in, "-out", signed_copy});
    const std::string log = scratch.at("sign.log");
    const int status = run_tool(args, log);
    if (status != 0) {
        std::string reason = reason_in(text_of(log));
        if (reason.find("mac verify failure") != std::string::npos)
            reason = "the key's password is wrong or missing (--sign-password-file)";
        *error = status < 0
                     ? std::string("cannot run ") + SIGN_TOOL + " (Debian package osslsigncode)"
                     : "signing failed" + (reason.empty() ? std::string() : ": " + reason);
        return false;
    }
    const SignatureReport report = inspect_signature(signed_copy, "");
    if (!report.intact) {
        *error = "the signed program does not verify: " + report.problem;
        return false;
    }
    std::error_code ec;
    fs::copy_file(signed_copy, out, fs::copy_options::overwrite_existing, ec);
    if (ec) *error = out + ": " + ec.message();
    return !ec;
}

SignatureReport inspect_signature(const std::string& program, const std::string& trust) {
    SignatureReport report;
    PeImage image;
    uint32_t table, size;
    if (!pe_load(program, &image).empty()) return report;
    pe_directory(image, 4, &table, &size);
    if (table == 0 || size == 0) return report;
    report.is_signed = true;
    ScratchFolder scratch;
    if (!scratch.ok()) {
        report.problem = std::string("no scratch folder: ") + strerror(errno);
        return report;
    }
    // Sound and matching: checked against the certificates the signature
    // itself carries, so that the answer does not depend on trust.
    const std::string log = scratch.at("verify.log");
    const std::string signature = scratch.at("signature.pem"), carried = scratch.at("carried.pem");
    if (run_tool({SIGN_TOOL, "extract-signature", "-pem", "-in", program, "-out", signature},
                 log) != 0 ||
        run_tool({"openssl", "pkcs7", "-in", signature, "-print_certs", "-out", carried}, log) !=
            0) {
        report.problem = "its signature cannot be read";
        return report;
    }
    report.signer = line_value(text_of(carried), "subject=");
    report.problem = verify_against(program, carried, log);
    report.intact = report.problem.empty();
    if (!report.intact) return report;
    // Trusted: against the given certificates, or the system's.
    const std::string anchors = trust.empty() ? SYSTEM_CERTIFICATES : trust;
    report.problem = verify_against(program, anchors, log);
    report.trusted = report.problem.empty();
    return report;
}
