#include "test_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"

Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

FILE* stream_of(const Bytes& data) {
    FILE* f = tmpfile();
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    rewind(f);
    return f;
}

Bytes contents_of(FILE* stream) {
    fflush(stream);
    fseek(stream, 0, SEEK_END);
    Bytes out(size_t(ftell(stream)));
    rewind(stream);
    if (!out.empty() && fread(out.data(), 1, out.size(), stream) != out.size()) out.clear();
    return out;
}

Bytes decode_bytes(const Bytes& stream, std::string* fault_text, FILE* out) {
    FILE* in = stream_of(stream);
    FILE* own_out = out ? nullptr : tmpfile();
    const bool shows = g_fatal_error_shows_box;
    g_fatal_error_shows_box = false;
    {
        FatalJumpScope armed;
        if (FATAL_JUMP_SAVE()) {
            if (fault_text) *fault_text = g_fatal_jump.text;
        } else {
            decode_entry(in, out ? out : own_out);
        }
    }
    g_fatal_error_shows_box = shows;
    Bytes result = own_out ? contents_of(own_out) : Bytes{};
    fclose(in);
    if (own_out) fclose(own_out);
    return result;
}

Bytes text_bytes(size_t size, uint32_t seed) {
    static const char* const WORDS[] = {"the ",   "serial ", "port ", "setup ", "window ", "file ",
                                        "data ",  "baud ",   "line ", "of ",    "and ",    "to ",
                                        "modem ", "\r\n",    "COM1 ", "9600 ",  "parity ", "bits "};
    Bytes out;
    uint32_t s = seed | 1;
    while (out.size() < size) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        const char* w = WORDS[s % (sizeof WORDS / sizeof WORDS[0])];
        while (*w && out.size() < size) out.push_back(uint8_t(*w++));
    }
    return out;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wpk-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void write_file(const std::string& path, const Bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

Bytes read_file(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof block, f)) > 0) out.insert(out.end(), block, block + n);
    fclose(f);
    return out;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

#include <unistd.h>

#include "platform_stand_in.h"

FakeMachine::FakeMachine() {
    char cwd[4096];
    saved_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    posix_reset(drive_c_.path());
    g_posix.boxes_to_stderr = false;
    g_posix.real_pauses = false;
    chdir(drive_c_.path().c_str());
}

FakeMachine::~FakeMachine() {
    if (chdir(saved_cwd_.c_str()) != 0) perror("chdir");
    posix_reset();
}

std::string FakeMachine::host(const std::string& path_on_c) const {
    return drive_c_.path() + "/" + path_on_c;
}

void FakeMachine::make_folder(const std::string& path_on_c) const {
    std::filesystem::create_directories(host(path_on_c));
}
