#pragma once

#include <string>

#include "core/config_store.h"
#include "core/engine_context.h"
#include "tests/support/recording_ui.h"

namespace zelm::test {

/// A fresh home folder (mode 0700) under the temporary directory, removed with everything in it
/// when the object goes.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    /// The folder, ending with '/'.
    const std::string& Path() const { return m_path; }
    /// The folder without the final '/', for tests that build paths on it themselves.
    std::string Dir() const { return m_path.substr(0, m_path.size() - 1); }
    /// The full path of a file in the folder.
    std::string File(const std::string& name) const { return m_path + name; }
    /// The file exists.
    bool Exists(const std::string& name) const;
    /// The whole file as bytes ("" when missing).
    std::string Read(const std::string& name) const;
    /// Creates or replaces the file with the bytes.
    void Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

/// What an engine operation needs in a test: a temporary home with its settings database, a
/// recording window and the context that joins them.
struct TestContext {
    TestContext() : db(home.File("settings.db")), context(home.Path(), db, ui) {}

    TempHome home;
    RecordingUi ui;
    SettingsDb db;
    EngineContext context;
};

} // namespace zelm::test
