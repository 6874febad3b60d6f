// A journal is whatever a killed process, a crashed file system or a hand edit left: no bytes
// may crash its reader, no record may come out that the writer could not have written, and
// the records it finds read back the same once written out again.
#include <cstdint>
#include <string>
#include <string_view>

#include "messages/cache_journal.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// An id as the writer writes it: one line, no NUL.
bool IsWritableId(const std::string& id) {
    return !id.empty() && id.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const zelm::JournalRecords records = zelm::ParseJournal(text);

    std::size_t lines = 0;
    for (const char c : text)
        lines += c == '\n' ? 1 : 0;
    if (!text.empty() && text.back() != '\n') ++lines;
    Check(records.cached.size() + records.deleted.size() +
              static_cast<std::size_t>(records.damagedLines) ==
          lines);

    std::string written;
    for (const auto& id : records.cached) {
        Check(IsWritableId(id));
        written += "cache " + id + "\r\n";
    }
    for (const auto& id : records.deleted) {
        Check(IsWritableId(id));
        written += "dele " + id + "\r\n";
    }
    const zelm::JournalRecords again = zelm::ParseJournal(written);
    Check(again.cached == records.cached && again.deleted == records.deleted);
    Check(again.damagedLines == 0);
    return 0;
}
