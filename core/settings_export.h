#pragma once

#include <string>

#include "core/config_store.h"

// The settings tree as text, for `zelm settings export` and `import`: one [key] block per key,
// one "name" = value line per value, names and strings double-quoted with C escapes.
namespace zelm {

/// text double-quoted with the export's C escapes.
std::string QuoteSettingText(const std::string& text);
/// The export's line for one value of the open key: "name" = "text" or "name" = int n.
std::string FormatSettingValue(ConfigStore& store, const std::string& name);
/// The whole tree in the export's text form, keys depth-first, subkeys sorted without regard
/// to case.
std::string ExportSettings(SettingsDb& db);
/// Replaces the whole tree by the export text, in one transaction; a malformed text changes
/// nothing and throws ZelmError naming its first bad line.
void ImportSettings(SettingsDb& db, const std::string& text);

} // namespace zelm
