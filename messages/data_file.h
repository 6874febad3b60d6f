#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_text.h"

// The plain-text files of the home folder: each mailbox's sectioned data file, the message and
// save-data templates, the outbox files and the save-data output. Every path is built from the
// home folder handed in; nothing depends on the current folder. Files use CR LF line ends.
// Failures to read or write raise ZelmError naming the file.
namespace zelm {

/// Section names of a mailbox's data file.
inline constexpr std::string_view kSectionCache = "Cache";
inline constexpr std::string_view kSectionAcceptList = "Accept List";
inline constexpr std::string_view kSectionRejectList = "Reject List";
inline constexpr std::string_view kSectionRejectText = "Reject Text";

/// The copy being written while a data file section is replaced (in the data file's folder).
inline constexpr std::string_view kDataFileTempName = "zelm$$$$.$$$";
/// The custom reject reply while it is composed and sent.
inline constexpr std::string_view kRejectReplyFileName = "zelmb$$$.$$$";

/// The mailbox's data file: programDir + mailbox + ".dat". Throws ZelmError for a name that
/// could leave the home folder (empty, ".", "..", or holding "/" or NUL).
std::string DataFilePath(const std::string& programDir, const std::string& mailbox);

/// The section's lines joined by CR LF; empty text when the file or the section is missing.
std::string ReadSection(const std::string& path, std::string_view name);
/// The section's lines; no lines when the file or the section is missing.
std::vector<std::string> ReadSectionLines(const std::string& path, std::string_view name);
/// Replaces the section or adds it at the end. The file is rewritten through a temporary file
/// that is flushed to disk and renamed over it, so a crash leaves the old or the new file; a
/// file that would come out byte for byte as it is stays untouched.
void WriteSection(const std::string& path, std::string_view name,
                  const std::vector<std::string>& lines);

/// Writes all of data to fd, going on after short writes; throws ZelmError naming path.
void WriteAll(int fd, std::string_view data, const std::string& path);
/// The whole file as bytes; nullopt when it does not exist. For small files (outbox messages,
/// journals). Throws ZelmError when it cannot be read, naming it.
std::optional<std::string> ReadFileIfExists(const std::string& path);
/// The lines of a text file, split at CR LF or LF (no empty line after the last break).
/// Throws ZelmError when the file cannot be read, naming it.
std::vector<std::string> ReadTextLines(const std::string& path);
/// Replaces a file with the lines, each followed by CR LF, through a flushed temporary file.
void WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
/// Appends the lines, each followed by CR LF, creating the file when it is missing.
void AppendTextLines(const std::string& path, const std::vector<std::string>& lines);

/// The two kinds of template file: "m" for "Send msg", "d" for "Save data".
enum class TemplateKind { Message, SaveData };

/// The next free template file name ("m00002.dat"): the lowest number from 1 for which no file
/// of that name exists. Throws ZelmError when all 99999 numbers are taken.
std::string NewTemplateName(const std::string& programDir, TemplateKind kind);
/// The template file an action line names: programDir + its last six characters + ".dat".
std::string TemplatePathFromActionLine(const std::string& programDir, const std::string& line);
/// Removes the template file id + ".dat" from programDir; a file already missing is ignored,
/// and so is an id that is not a template id ("m" or "d" and five digits), so a damaged action
/// line can never remove another of the home folder's files. Throws ZelmError when the file
/// exists but cannot be removed.
void DeleteTemplateFile(const std::string& programDir, const std::string& id);
/// A path from a template or the user: relative paths lie in the home folder.
std::string ResolveInProgramDir(const std::string& programDir, const std::string& path);

/// The fields of a message template as the template dialog edits them.
struct MessageTemplate {
    std::string from, subject, to, cc;
    /// Body lines; the first may be "Attachment: " and a path.
    std::vector<std::string> body;
};
/// The file lines: "From: ", "Subject: ", "To: ", "Cc: ", an empty line, the body.
std::vector<std::string> MessageTemplateLines(const MessageTemplate& message);
/// The fields back from file lines: lines 1 to 4 without their prefixes, the body after the
/// first empty line. Missing lines read as empty fields.
MessageTemplate ParseMessageTemplate(const std::vector<std::string>& lines);

/// A save-data template: the output file and the lines to write, placeholders unresolved.
struct SaveDataTemplate {
    std::string outputPath;
    std::vector<std::string> lines;
};
/// The file lines: the output path, then the lines.
std::vector<std::string> SaveDataTemplateLines(const SaveDataTemplate& saveData);
/// Reads a save-data template; throws ZelmError when it is missing or names no output file.
SaveDataTemplate ReadSaveDataTemplate(const std::string& path);

/// Writes the custom reject reply for one message to programDir + "zelmb$$$.$$$": the Reject
/// Text with "To: " + returnPath inserted as its third line. Returns the file's path.
std::string WriteRejectReplyTemplate(const std::string& programDir,
                                     const std::vector<std::string>& rejectText,
                                     const std::string& returnPath);

/// A message waiting in a mailbox's outbox.
struct OutboxMessage {
    /// Delivery attempts made so far.
    int attempts = 0;
    std::vector<std::string> recipients;
    /// The message lines exactly as handed to the SMTP sender.
    std::vector<std::string> lines;
};

/// A message to store in the outbox, its lines read where they are (a forwarded message is not
/// copied for it).
struct OutboxEntry {
    OutboxEntry(int attemptCount, const std::vector<std::string>& to, MessageLines text)
        : attempts(attemptCount), recipients(to), lines(text) {}
    OutboxEntry(const OutboxMessage& message)
        : attempts(message.attempts), recipients(message.recipients), lines(message.lines) {}

    int attempts;
    const std::vector<std::string>& recipients;
    MessageLines lines;
};

/// The mailbox's outbox folder: programDir + mailbox (checked as for DataFilePath).
std::string OutboxFolder(const std::string& programDir, const std::string& mailbox);
/// Creates the outbox folder when it is missing.
void EnsureOutboxFolder(const std::string& folder);
/// The outbox's "*.dat" files, full paths in name order; none when the folder is missing.
std::vector<std::string> ListOutboxFiles(const std::string& folder);
/// Stores a message under a new random name in the folder, which must exist; the file appears
/// complete or not at all. Returns its path.
std::string WriteOutboxMessage(const std::string& folder, const OutboxEntry& message);
/// Stores the message in place of the outbox file at path, under a new random name: the content
/// is replaced first and the name changed after, so at every moment exactly one of the two
/// names holds the message, whole. Returns the new path.
std::string ReplaceOutboxMessage(const std::string& path, const OutboxEntry& message);
/// Reads an outbox file back as it was written. Throws ZelmError for a first line that is not
/// a whole number or a file without the empty line after the recipients.
OutboxMessage ReadOutboxMessage(const std::string& path);

} // namespace zelm
