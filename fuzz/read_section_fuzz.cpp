// A data file may be cut short, edited by hand or written by another tool: no content may
// crash the section reader, and a section written into any such file must read back exactly,
// since the cache and the lists live there.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/zelm_error.h"
#include "messages/data_file.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// A private folder for the one data file the target rewrites. Memory-backed when the machine
// has /dev/shm, since every rewrite flushes to disk.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/zelm-read-section-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        m_path = pattern + "/";
    }
    ~ScratchFolder() {
        ::unlink((m_path + "home.dat").c_str());
        ::unlink((m_path + std::string(zelm::kDataFileTempName)).c_str());
        ::rmdir(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }

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

const std::string_view kSectionNames[] = {zelm::kSectionCache, zelm::kSectionAcceptList,
                                          zelm::kSectionRejectList, zelm::kSectionRejectText};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder folder;
    const std::string path = folder.Path() + "home.dat";
    FuzzedDataProvider input(data, size);

    // Mostly the program's own sections; sometimes any name, as long as it is one line.
    std::string name(kSectionNames[input.ConsumeIntegralInRange<std::size_t>(0, 3)]);
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0) {
        name = input.ConsumeRandomLengthString(12);
        if (name.find_first_of("\r\n") != std::string::npos) return -1;
    }
    // The lines to write. A line is what a list holds between its line breaks, and the lone
    // "####" ends a section in the file's layout, so neither can be a line of it.
    std::vector<std::string> lines;
    const auto lineCount = input.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < lineCount; ++i) {
        lines.push_back(input.ConsumeRandomLengthString(24));
        if (lines.back().find('\n') != std::string::npos || lines.back() == "####") return -1;
    }
    const bool fileExists = input.ConsumeIntegralInRange<int>(0, 15) != 0;
    const std::string content = input.ConsumeRemainingBytesAsString();

    ::unlink(path.c_str());
    if (fileExists) WriteFile(path, content);
    zelm::ReadSection(path, name);
    zelm::ReadSectionLines(path, name);

    zelm::WriteSection(path, name, lines);
    Check(zelm::ReadSectionLines(path, name) == lines);
    // As text: every line followed by CR LF, the way the session reads the Reject Text.
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    Check(zelm::ReadSection(path, name) == text);
    // The rewrite leaves no temporary file behind.
    Check(::access((folder.Path() + std::string(zelm::kDataFileTempName)).c_str(), F_OK) != 0);
    return 0;
}
