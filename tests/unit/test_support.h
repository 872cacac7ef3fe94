// Helpers shared by the unit tests: archives and member streams in memory,
// and temporary folders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "platform_stand_in.h"
#include "test_data.h"

// Message boxes compared whole, and printed readably when they differ.
inline bool operator==(const RecordedBox& a, const RecordedBox& b) {
    return std::tie(a.owner, a.text, a.caption, a.style) ==
           std::tie(b.owner, b.text, b.caption, b.style);
}
inline void PrintTo(const RecordedBox& b, std::ostream* out) {
    *out << "{" << b.owner << " \"" << b.text << "\" \"" << b.caption << "\" " << b.style << "}";
}

Bytes bytes_of(const std::string& text);

// A stdio stream reading from a copy of `data` (a temporary file).
FILE* stream_of(const Bytes& data);
// Everything written to a stream opened by tmpfile(), from its start.
Bytes contents_of(FILE* stream);

// Decodes one member stream; `fault_text` gets the fatal text, if any. The
// bytes go to `out` when given (and nothing is returned), else to a
// temporary file whose contents are returned.
Bytes decode_bytes(const Bytes& stream, std::string* fault_text = nullptr, FILE* out = nullptr);

// Two member streams decoded one after the other. The first (size 7) is 'a'
// and a match of 9 from one byte back, which reaches past the size; the
// second (size 3) is a match of 3 from ring position 4043, inside that
// match's last bytes, so it gives "aaa" only when the whole match entered
// the ring.
inline const Bytes CUT_MATCH_STREAM = {0x07, 0, 0, 0, 0xF6, 0xC9, 0x00, 0x00};
inline const Bytes READS_4043_STREAM = {0x03, 0, 0, 0, 0x8C, 0xFF, 0xE0};

// Lead-byte tests of code pages: none (single-byte), 932 and 949.
inline bool single_byte(uint8_t) {
    return false;
}
inline bool cp932_lead(uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
inline bool cp949_lead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}

// Deterministic text (random_bytes is in test_data.h).
Bytes text_bytes(size_t size, uint32_t seed);

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void write_file(const std::string& path, const Bytes& data);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);

// A scratch Windows machine for the host stand-in of the platform: drive C
// is a fresh temporary folder, message boxes are recorded silently, pauses
// are recorded without sleeping. The process's current folder is restored
// afterwards.
class FakeMachine {
  public:
    FakeMachine();
    ~FakeMachine();
    // Host path of a path on drive C, e.g. host("TEMP/W80_INST").
    std::string host(const std::string& path_on_c) const;
    // Makes host folders (with parents) on drive C.
    void make_folder(const std::string& path_on_c) const;

  private:
    TempFolder drive_c_;
    std::string saved_cwd_;
};
