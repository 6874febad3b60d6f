// Outbox files wait between sessions and may be cut short or edited: reading any content
// either gives a message or refuses the file, never more. A message stored and read back is
// the message that was stored, so a retry sends exactly what the first attempt would have.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/string_helpers.h"
#include "core/zelm_error.h"
#include "messages/data_file.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// A private outbox folder. Memory-backed when the machine has /dev/shm, since every stored
// message is flushed to disk.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/zelm-outbox-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        m_path = pattern;
    }
    ~ScratchFolder() {
        for (const auto& file : zelm::ListOutboxFiles(m_path))
            ::unlink(file.c_str());
        ::unlink(InputPath().c_str());
        ::unlink((m_path + "/" + std::string(zelm::kDataFileTempName)).c_str());
        ::rmdir(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    /// Where the raw input is put; not a ".dat" name, so the outbox never lists it.
    std::string InputPath() const { return m_path + "/input.txt"; }

private:
    std::string m_path;
};

void WriteFile(const std::string& path, std::string_view content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) __builtin_trap();
    while (!content.empty()) {
        const auto written = ::write(fd, content.data(), content.size());
        if (written <= 0) __builtin_trap();
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    ::close(fd);
}

bool SameMessage(const zelm::OutboxMessage& a, const zelm::OutboxMessage& b) {
    return a.attempts == b.attempts && a.recipients == b.recipients && a.lines == b.lines;
}

// The message as the writer stores it: recipients that are blank or hold a line break are
// no deliverable address and are left out.
zelm::OutboxMessage AsStored(zelm::OutboxMessage message) {
    std::erase_if(message.recipients, [](const std::string& recipient) {
        return zelm::Trim(recipient).empty() ||
               recipient.find_first_of("\r\n") != std::string::npos;
    });
    return message;
}

// Stores the message, reads it back and removes the file again.
zelm::OutboxMessage StoreAndRead(const std::string& folder, const zelm::OutboxMessage& message) {
    const std::string path = zelm::WriteOutboxMessage(folder, message);
    zelm::OutboxMessage back = zelm::ReadOutboxMessage(path);
    ::unlink(path.c_str());
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder folder;
    FuzzedDataProvider input(data, size);

    if (input.ConsumeBool()) {
        // The input is an outbox file. What reads as a message must store and read back the same.
        WriteFile(folder.InputPath(), input.ConsumeRemainingBytesAsString());
        zelm::OutboxMessage message;
        try {
            message = zelm::ReadOutboxMessage(folder.InputPath());
        } catch (const zelm::ZelmError&) {
            return 0;
        }
        Check(SameMessage(StoreAndRead(folder.Path(), message), AsStored(message)));
        return 0;
    }

    // A message as the sender hands it over: lines without line ends (a lone CR or LF from a
    // forwarded message may remain), recipients of any kind.
    zelm::OutboxMessage message;
    message.attempts = input.ConsumeIntegral<int>();
    const auto recipientCount = input.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < recipientCount; ++i)
        message.recipients.push_back(input.ConsumeRandomLengthString(24));
    while (input.remaining_bytes() > 0) {
        message.lines.push_back(input.ConsumeRandomLengthString(40));
        if (message.lines.back().find("\r\n") != std::string::npos) return -1;
    }
    Check(SameMessage(StoreAndRead(folder.Path(), message), AsStored(message)));
    return 0;
}
