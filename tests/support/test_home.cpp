#include "tests/support/test_home.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace zelm::test {

TempHome::TempHome() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zelm-home.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("cannot create a temporary home");
    m_path = std::string(buffer.data()) + "/";
}

TempHome::~TempHome() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool TempHome::Exists(const std::string& name) const {
    return std::filesystem::exists(File(name));
}

std::string TempHome::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TempHome::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + File(name));
}

} // namespace zelm::test
