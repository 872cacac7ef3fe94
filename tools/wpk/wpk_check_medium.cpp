// wpk check of a finished medium (a folder, or an ISO image, holding
// WBOOT.EXE and W_SETUP.WPK): the archive's test, whether the program is a
// WBOOT.EXE, its signature, and whether the digest it is bound to is the
// archive's.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "wpk.h"
#include "wpk_members.h"
#include "wpk_pe.h"
#include "wpk_reader.h"
#include "wpk_sign.h"

namespace fs = std::filesystem;

namespace {

bool holds_medium(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / MEDIUM_PROGRAM, ec) &&
           fs::is_regular_file(folder / MEDIUM_ARCHIVE, ec);
}

// Whether `path` is an ISO 9660 image: "CD001" in its first volume
// descriptor, at byte 32769.
bool is_iso_image(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char id[5] = {};
    const bool read = fseek(f, 32769, SEEK_SET) == 0 && fread(id, 1, 5, f) == 5;
    fclose(f);
    return read && memcmp(id, "CD001", 5) == 0;
}

void warn(const std::string& line, bool strict, int* status, size_t* found) {
    ++*found;
    if (strict) {
        complain("error: " + line);
        *status = EXIT_DAMAGED;
    } else if (g_verbosity >= 0) {
        printf("warning: %s\n", line.c_str());
    }
}

// The checks of the medium in `folder`, reported under the name `shown`.
int check_medium_folder(const std::string& shown, const fs::path& folder, const std::string& trust,
                        bool strict) {
    int status = EXIT_OK;
    size_t found = 0;
    const std::string archive = (folder / MEDIUM_ARCHIVE).string();
    const std::string program = (folder / MEDIUM_PROGRAM).string();
    const std::string where = shown + ": " + MEDIUM_PROGRAM;

    const std::string shown_archive =
        shown == folder.string() ? archive : shown + ":" + MEDIUM_ARCHIVE;
    if (test_archive(archive, jobs_from_option(""), nullptr, shown_archive) != EXIT_OK)
        status = EXIT_DAMAGED;

    PeImage image;
    const std::string fault = pe_load(program, &image);
    const std::string name = fault.empty() ? pe_version_value(image, "OriginalFilename") : "";
    if (!fault.empty() || name != MEDIUM_PROGRAM ||
        pe_version_value(image, "FileDescription") != PROGRAM_DESCRIPTION) {
        complain("error: " + where + ": not a WBOOT.EXE (" +
                 (fault.empty()
                      ? "its version information names " + (name.empty() ? "nothing" : name)
                      : fault) +
                 ")");
        status = EXIT_DAMAGED;
    } else if (g_verbosity >= 0) {
        printf("%s: %s %s\n", where.c_str(), PROGRAM_DESCRIPTION,
               pe_version_value(image, "FileVersion").c_str());
    }

    const SignatureReport signature = inspect_signature(program, trust);
    if (!signature.is_signed) {
        warn(where + ": not signed: Windows names its publisher as unknown", strict, &status,
             &found);
    } else if (!signature.intact) {
        complain("error: " + where + ": the signature does not verify: " + signature.problem);
        status = EXIT_DAMAGED;
    } else if (!signature.trusted) {
        warn(where + ": signed by " + signature.signer + "; the signature verifies, but its " +
                 "certificate is not trusted here (" + signature.problem + "; --trust names " +
                 "certificates to trust)",
             strict, &status, &found);
    } else if (g_verbosity >= 0) {
        printf("%s: signed by %s; the signature verifies\n", where.c_str(),
               signature.signer.c_str());
    }

    uint8_t bound[SHA256_DIGEST_SIZE], actual[SHA256_DIGEST_SIZE];
    std::string error;
    if (!bound_digest(program, bound)) {
        warn(where + ": not bound to its archive: it installs any W_SETUP.WPK beside it", strict,
             &status, &found);
    } else if (!file_sha256(archive, actual, &error)) {
        complain("error: " + error);
        status = EXIT_DAMAGED;
    } else if (memcmp(bound, actual, SHA256_DIGEST_SIZE) != 0) {
        complain("error: " + where + ": bound to another archive than " + MEDIUM_ARCHIVE +
                 ": it would refuse to install it");
        status = EXIT_DAMAGED;
    } else if (g_verbosity >= 0) {
        printf("%s: bound to %s: the digest matches\n", where.c_str(), MEDIUM_ARCHIVE);
    }
    if (g_verbosity >= 0) printf("%s: %s\n", shown.c_str(), count_of(found, "finding").c_str());
    return status;
}

} // namespace

bool is_medium(const std::string& operand) {
    std::error_code ec;
    return fs::is_directory(operand, ec) ? holds_medium(operand) : is_iso_image(operand);
}

int check_medium(const std::string& operand, const std::string& trust, bool strict) {
    std::error_code ec;
    if (fs::is_directory(operand, ec)) return check_medium_folder(operand, operand, trust, strict);
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        complain("check: " + operand + ": no scratch folder: " + strerror(errno));
        return EXIT_DAMAGED;
    }
    const std::string to = scratch.path() + "/";
    if (run_tool({"xorriso", "-osirrox", "on", "-indev", operand, "-extract",
                  std::string("/") + MEDIUM_PROGRAM, to + MEDIUM_PROGRAM, "-extract",
                  std::string("/") + MEDIUM_ARCHIVE, to + MEDIUM_ARCHIVE},
                 to + "xorriso.log") != 0 ||
        !holds_medium(scratch.path())) {
        complain("check: " + operand + ": an ISO image without " + MEDIUM_PROGRAM + " and " +
                 MEDIUM_ARCHIVE + " at its root, or one xorriso cannot read");
        return EXIT_DAMAGED;
    }
    return check_medium_folder(operand, scratch.path(), trust, strict);
}
