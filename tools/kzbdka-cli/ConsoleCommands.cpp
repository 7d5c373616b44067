#include "ConsoleCommands.h"

#include "Config/AnnotationTypes.h"
#include "inspection/InspectionClock.h"
#include "ui/MainFrameCore.h"

#include <charconv>
#include <sstream>

namespace {

// 'text' (built by appending: GCC 12 warns falsely about "'" + std::string&&).
std::string Quoted(const std::string& text)
{
    std::string quoted(1, '\'');
    quoted.append(text).push_back('\'');
    return quoted;
}

ConsoleCommand Invalid(std::string why)
{
    ConsoleCommand command;
    command.kind = ConsoleCommand::Kind::Invalid;
    command.error = std::move(why);
    return command;
}

ConsoleCommand ParseAnnotate(std::istringstream& words)
{
    ConsoleCommand command;
    command.kind = ConsoleCommand::Kind::Annotate;
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0)
            return Invalid(Quoted(word) + " is not <fieldID>=<value>");
        std::uint32_t fieldID = 0;
        const char* begin = word.data();
        const char* end = begin + equals;
        const auto [stop, result] = std::from_chars(begin, end, fieldID);
        if (result != std::errc() || stop != end)
            return Invalid(Quoted(word.substr(0, equals)) + " is not a field ID");
        command.values.emplace_back(fieldID, word.substr(equals + 1));
    }
    if (command.values.empty())
        return Invalid("annotate needs at least one <fieldID>=<value>");
    return command;
}

// Checks every value against the configuration in force before anything is changed.
std::string CheckAnnotation(const std::vector<FieldDetails>& fields,
                            const std::vector<std::pair<std::uint32_t, std::string>>& values)
{
    for (const auto& [fieldID, value] : values) {
        const FieldDetails* field = nullptr;
        for (const FieldDetails& candidate : fields) {
            if (candidate.GetFieldID() == fieldID) {
                field = &candidate;
                break;
            }
        }
        if (field == nullptr)
            return "no annotation field " + std::to_string(fieldID);
        const AnnotationType* input = field->GetAnnotationType();
        if (const auto* freeText = dynamic_cast<const FreeTextEntry*>(input)) {
            if (value.size() > freeText->GetMaxLength())
                return "field " + std::to_string(fieldID) + " takes at most " +
                       std::to_string(freeText->GetMaxLength()) + " characters";
        } else if (const auto* buttons = dynamic_cast<const PushButton*>(input)) {
            bool found = false;
            for (const PushButtonData& button : buttons->GetButtons())
                found = found || button.GetLabel() == value;
            if (!found)
                return "field " + std::to_string(fieldID) + " has no button " + Quoted(value);
        } else {
            return "field " + std::to_string(fieldID) + " takes no input";
        }
    }
    return {};
}

std::string Annotate(CMainFrameCore& core, const ConsoleCommand& command)
{
    CAnnotationDialogModel& dialog = *core.GetAnnotationDialog();
    const std::vector<FieldDetails>* fields = dialog.Current();
    if (fields == nullptr)
        return "error: no annotation configuration in force";
    if (const std::string problem = CheckAnnotation(*fields, command.values); !problem.empty())
        return "error: " + problem;
    for (const auto& [fieldID, value] : command.values) {
        if (!dialog.SetFreeText(fieldID, value))
            dialog.PressButton(fieldID, value);
    }
    const std::vector<unsigned> sent = dialog.Annotate();
    if (sent.empty())
        return "ok: annotate (nothing sent)";
    std::string recorders;
    for (const unsigned recorder : sent)
        recorders += (recorders.empty() ? "" : ", ") + std::to_string(recorder);
    return "ok: annotate (sent to recorder " + recorders + ")";
}

} // namespace

ConsoleCommand ParseConsoleCommand(const std::string& line)
{
    std::istringstream words(line);
    std::string verb;
    if (!(words >> verb))
        return {};
    if (verb == "annotate")
        return ParseAnnotate(words);

    std::string argument;
    words >> argument;
    std::string extra;
    words >> extra;
    ConsoleCommand command;
    if (verb == "suppress" && extra.empty() && (argument == "start" || argument == "stop"))
        command.kind = argument == "start" ? ConsoleCommand::Kind::SuppressStart : ConsoleCommand::Kind::SuppressStop;
    else if (verb == "suppress")
        return Invalid("use 'suppress start' or 'suppress stop'");
    else if (!argument.empty() && (verb == "keep" || verb == "discard" || verb == "inspections" || verb == "quit"))
        return Invalid(Quoted(verb) + " takes no argument");
    else if (verb == "keep")
        command.kind = ConsoleCommand::Kind::Keep;
    else if (verb == "discard")
        command.kind = ConsoleCommand::Kind::Discard;
    else if (verb == "inspections")
        command.kind = ConsoleCommand::Kind::Inspections;
    else if (verb == "quit")
        command.kind = ConsoleCommand::Kind::Quit;
    else
        return Invalid("unknown command " + Quoted(verb));
    return command;
}

std::string ExecuteConsoleCommand(CMainFrameCore& core, const ConsoleCommand& command)
{
    switch (command.kind) {
    case ConsoleCommand::Kind::Annotate:
        return Annotate(core, command);
    case ConsoleCommand::Kind::SuppressStart:
        core.GetManualSuppressionDialog()->Start();
        return "ok: suppress start";
    case ConsoleCommand::Kind::SuppressStop:
        core.GetManualSuppressionDialog()->Stop();
        return "ok: suppress stop";
    case ConsoleCommand::Kind::Keep:
        core.GetRecordOnDemandDialog()->Keep();
        return "ok: keep";
    case ConsoleCommand::Kind::Discard:
        core.GetRecordOnDemandDialog()->Discard();
        return "ok: discard";
    case ConsoleCommand::Kind::Inspections:
        return "ok: inspections " + std::to_string(core.GetInspectionClock().Inspections());
    case ConsoleCommand::Kind::Invalid:
        return "error: " + command.error;
    case ConsoleCommand::Kind::None:
    case ConsoleCommand::Kind::Quit:
        break;
    }
    return {};
}
