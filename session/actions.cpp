#include "session/actions.h"

#include <ctime>
#include <string_view>

#include "core/config_store.h"
#include "core/schema.h"
#include "core/string_helpers.h"
#include "messages/compose.h"
#include "messages/data_file.h"
#include "messages/header_summary.h"
#include "protocols/pop3.h"
#include "protocols/smtp.h"
#include "session/app_runner.h"
#include "session/test_run.h"
#include "session/text_extraction.h"

namespace zelm {

namespace {

bool StartsWith(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// The text after the line's first colon, trimmed ("" when there is no colon).
std::string Argument(const std::string& line) {
    const auto colon = line.find(':');
    return colon == std::string::npos ? std::string() : Trim(line.substr(colon + 1));
}

void RebuildVariableNames(ProcessingSession& session) {
    MessageState& message = session.Message();
    message.messageVariables.RebuildNames(message.headerSummary.fields, session.textVariableNames);
}

void DeleteMessage(ProcessingSession& session) {
    session.context.ui.SetStatusPanel(3, "Deleting");
    DeleteCurrentMessage(session);
    session.context.log.WriteSessionLine(" - deleted");
}

void ExtractText(ProcessingSession& session, const std::string& filterName) {
    session.context.ui.SetStatusPanel(3, "Extract text");
    if (!RetrieveForResponse(session, "extract text")) return;
    Pop3Client& pop3 = session.pop3;
    MessageState& message = session.Message();
    // Every extraction starts from the header values, Header and Body: variables cut by an
    // earlier filter for this message are dropped, so names and values pair again.
    ResetRetrievedValues(message, pop3.headerLines, pop3.messageBody);
    auto extracted = RunExtraction(session.context.settings, session.context.currentMailbox,
                                   filterName, pop3.messageBody);
    if (TestRun* run = session.testRun) {
        for (std::size_t i = 0; i < extracted.size(); ++i) {
            const std::string name = i < session.textVariableNames.size()
                                         ? session.textVariableNames[i]
                                         : "(unnamed " + std::to_string(i + 1) + ")";
            run->Detail("{" + name + "} = \"" + extracted[i] + "\"");
        }
        if (extracted.empty()) run->Detail("no text extracted");
    }
    auto& values = message.messageVariables.values;
    values.insert(values.end(), std::make_move_iterator(extracted.begin()),
                  std::make_move_iterator(extracted.end()));
}

void ForwardMessage(ProcessingSession& session, const std::string& line) {
    session.context.ui.SetStatusPanel(3, "Forwarding " + std::to_string(session.messageNumber));
    if (!RetrieveForResponse(session, "forward")) return;
    MessageState& message = session.Message();
    ExpandRecipients(Argument(line), message);
    SendMail(session, message.recipientList, ReceivedMessage(session));
}

void RunProgram(ProcessingSession& session, const std::string& line) {
    session.context.ui.SetStatusPanel(3, "Ext prog");
    const std::string program = Argument(line);
    // Without this message's text, "zelm.dat" would hand the program another message.
    if (!RetrieveForResponse(session, "ext prog " + program)) return;
    if (TestRun* run = session.testRun) {
        std::string argv;
        for (const auto& argument : ExternalProgramArgv(session.context, program))
            argv += (argv.empty() ? "" : " ") + ("\"" + argument + "\"");
        run->Detail("argv: " + argv);
    } else {
        RunExternalProgram(session.context, program);
    }
    session.context.log.WriteSessionLine(" - msg to ext prog " + program);
}

void SaveData(ProcessingSession& session, const std::string& line) {
    EngineContext& context = session.context;
    context.ui.SetStatusPanel(3, "Saving data");
    if (!RetrieveForResponse(session, "save data")) return;
    RebuildVariableNames(session);
    const auto& variables = session.Message().messageVariables;
    try {
        const auto saveData =
            ReadSaveDataTemplate(TemplatePathFromActionLine(context.programDir, line));
        const std::time_t now = std::time(nullptr);
        std::vector<std::string> lines;
        lines.reserve(saveData.lines.size());
        for (const auto& templateLine : saveData.lines) {
            lines.push_back(SubstitutePlaceholders(templateLine, variables, now));
        }
        const auto output = ResolveInProgramDir(context.programDir, saveData.outputPath);
        if (TestRun* run = session.testRun) {
            run->Detail("append to: " + output);
            for (const auto& appended : lines)
                run->Detail("line: " + appended);
        } else {
            AppendTextLines(output, lines);
        }
        context.log.WriteSessionLine(" - msg data to file " + saveData.outputPath);
    } catch (const ZelmError& error) {
        context.log.WriteSessionLine(" - save data skipped: " + std::string(error.what()));
    }
}

void SendMessage(ProcessingSession& session, const std::string& line) {
    EngineContext& context = session.context;
    context.ui.SetStatusPanel(3, "sending msg");
    if (!RetrieveForResponse(session, "send msg")) return;
    RebuildVariableNames(session);
    MessageState& message = session.Message();
    OutgoingMessage composed;
    try {
        const auto path = TemplatePathFromActionLine(context.programDir, line);
        // An empty template would send a message with no header and no recipient.
        const auto templateLines = ReadTextLines(path);
        bool blank = true;
        for (const auto& templateLine : templateLines)
            blank = blank && Trim(templateLine).empty();
        if (blank) throw ZelmError("The message template \"" + path + "\" is empty");
        const ComposeInputs inputs{session.settings.userId, session.settings.smtpHost,
                                   session.messageNumber, std::time(nullptr)};
        composed = ComposeMessage(path, inputs, message, context.ui);
    } catch (const ZelmError& error) {
        context.log.WriteSessionLine(" - send msg skipped: " + std::string(error.what()));
        return;
    }
    if (TestRun* run = session.testRun) {
        for (const auto& header : composed) {
            if (header.empty()) break;
            if (StartsWith(header, "Subject:") || StartsWith(header, "To:") ||
                StartsWith(header, "Cc:"))
                run->Detail(header);
        }
    }
    SendMail(session, message.recipientList, composed);
}

// The Stop line ends the message's filtering; the filter's lines after it are not run.
void ReportStop(TestRun& run, const std::vector<std::string>& lines, std::size_t stopIndex) {
    run.Detail("ends this message: no further action or filter");
    if (FilterReport* filter = run.Filter()) filter->stops = true;
    for (std::size_t i = stopIndex + 1; i < lines.size(); ++i) {
        run.BeginAction(lines[i]).reached = false;
    }
    run.EndStep();
}

} // namespace

std::vector<std::string> ActionLines(const std::string& actionsValue) {
    auto pieces = Split(actionsValue, "\r\n").pieces;
    // What follows the last CR LF was never finished as a line.
    if (!pieces.empty()) pieces.pop_back();
    return pieces;
}

bool RetrieveForResponse(ProcessingSession& session, const std::string& what) {
    if (session.pop3.messageRetrieved) return true;
    if (EnsureRetrieved(session)) return true;
    session.context.log.WriteSessionLine(" - " + what +
                                         " skipped: the message could not be retrieved");
    return false;
}

ActionOutcome ExecuteFilterActions(ProcessingSession& session, const std::string& filterName) {
    EngineContext& context = session.context;
    const auto keyPath = FilterKeyPath(context.currentMailbox, filterName);
    const auto actions = ReadRegString(context.settings, keyPath, schema::Actions, "");
    session.textVariableNames =
        SplitListValue(ReadRegString(context.settings, keyPath, schema::TextVarNames, ""));
    // A recipient reference to a variable of this filter must find this filter's names, and
    // never the value another filter cut at the same position.
    RebuildVariableNames(session);
    auto& values = session.Message().messageVariables.values;
    const auto retrievedCount = session.Message().headerSummary.values.size() + 2;
    if (values.size() > retrievedCount) values.resize(retrievedCount);

    const auto lines = ActionLines(actions);
    TestRun* run = session.testRun;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        if (run) run->BeginAction(line);
        if (StartsWith(line, "Delete")) {
            DeleteMessage(session);
        } else if (StartsWith(line, "Extract text")) {
            ExtractText(session, filterName);
        } else if (StartsWith(line, "Fwd")) {
            ForwardMessage(session, line);
        } else if (StartsWith(line, "Ext prog")) {
            RunProgram(session, line);
        } else if (StartsWith(line, "Save data")) {
            SaveData(session, line);
        } else if (StartsWith(line, "Send msg")) {
            SendMessage(session, line);
        } else if (StartsWith(line, "Stop")) {
            if (run) ReportStop(*run, lines, index);
            return ActionOutcome::Stop;
        } else {
            if (run) run->Detail("passed over: not an action line");
            continue;
        }
        context.ui.SetStatusPanel(3, "");
    }
    if (run) run->EndStep();
    return ActionOutcome::Continue;
}

} // namespace zelm
