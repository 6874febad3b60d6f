#include "tests/support/real_servers.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zelm::test {

namespace {

namespace fs = std::filesystem;

std::string RequiredVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) {
        throw std::runtime_error(std::string(name) +
                                 " is not set: run the tests with scripts/test, which starts the "
                                 "real servers (or source tests/support/servers.sh and call "
                                 "start_test_servers)");
    }
    return value;
}

int RequiredPort(const char* name) {
    const std::string text = RequiredVariable(name);
    const int port = std::atoi(text.c_str());
    if (port <= 0 || port > 65535) throw std::runtime_error(std::string(name) + " is not a port");
    return port;
}

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int RealPop3Port() {
    return RequiredPort("ZELM_TEST_POP3_PORT");
}

int RealPop3sPort() {
    return RequiredPort("ZELM_TEST_POP3S_PORT");
}

int RealSmtpPort() {
    return RequiredPort("ZELM_TEST_SMTP_PORT");
}

int RealSmtpStartTlsPort() {
    return RequiredPort("ZELM_TEST_SMTP_STARTTLS_PORT");
}

int RealSmtpsPort() {
    return RequiredPort("ZELM_TEST_SMTPS_PORT");
}

std::string RealCaFile() {
    return RequiredVariable("ZELM_TEST_CA_FILE");
}

std::string RealMailRoot() {
    return RequiredVariable("ZELM_TEST_MAILROOT");
}

std::string RealSmtpSpool() {
    return RequiredVariable("ZELM_TEST_SMTP_SPOOL");
}

RealMailbox::RealMailbox(std::string user)
    : m_user(std::move(user)), m_maildir(RealMailRoot() + "/" + m_user + "/Maildir") {
    if (!fs::is_directory(m_maildir + "/new")) {
        throw std::runtime_error("no test maildir for user " + m_user);
    }
}

void RealMailbox::Clear() const {
    for (const char* sub : {"new", "cur", "tmp"}) {
        for (const auto& entry : fs::directory_iterator(m_maildir + "/" + sub)) {
            fs::remove_all(entry.path());
        }
    }
}

std::string RealMailbox::Drop(const std::string& content) const {
    // Maildir names must be unique; the counter also keeps the server's numbering in drop
    // order, since new messages are taken up in name order.
    static int counter = 0;
    char name[96];
    std::snprintf(name, sizeof name, "%lld.%06d_%d.zelmtest",
                  static_cast<long long>(std::time(nullptr)), ++counter,
                  static_cast<int>(::getpid()));
    const std::string temporary = m_maildir + "/tmp/" + name;
    const std::string final = m_maildir + "/new/" + name;
    {
        std::ofstream out(temporary, std::ios::binary);
        out << content;
        if (!out) throw std::runtime_error("cannot write " + temporary);
    }
    // Dovecot runs as another user and must be able to read and move the file.
    ::chmod(temporary.c_str(), 0666);
    fs::rename(temporary, final);
    return final;
}

std::size_t RealMailbox::Count() const {
    std::size_t count = 0;
    for (const char* sub : {"new", "cur"}) {
        for (const auto& entry : fs::directory_iterator(m_maildir + "/" + sub)) {
            if (entry.is_regular_file()) ++count;
        }
    }
    return count;
}

std::vector<SpoolMessage> ReadSmtpSpool() {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(RealSmtpSpool())) {
        if (entry.path().extension() == ".eml") names.push_back(entry.path());
    }
    std::sort(names.begin(), names.end());
    std::vector<SpoolMessage> messages;
    for (const auto& path : names) {
        SpoolMessage message;
        message.name = path.stem().string();
        message.data = ReadWholeFile(path);
        auto envelopePath = path;
        envelopePath.replace_extension(".env");
        std::istringstream envelope(ReadWholeFile(envelopePath));
        std::string line;
        if (std::getline(envelope, line)) message.mailFrom = line;
        while (std::getline(envelope, line))
            message.recipients.push_back(line);
        messages.push_back(std::move(message));
    }
    return messages;
}

std::vector<SpoolMessage> WaitForSpoolMessages(const std::string& marker, std::size_t count,
                                               int limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        std::vector<SpoolMessage> found;
        for (auto& message : ReadSmtpSpool()) {
            if (message.data.find(marker) != std::string::npos) found.push_back(std::move(message));
        }
        if (found.size() >= count || std::chrono::steady_clock::now() >= deadline) return found;
        // The sink writes the files after it has answered the client; poll briefly.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace zelm::test
