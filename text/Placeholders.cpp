// Prompted placeholders in command templates: "<?Name>" and "<?Name:Default>".

#include "text/Strtools.h"

bool ExpandPlaceholders(std::string& text, TParamMemory& memory, TPlaceholderPrompter& prompter)
{
    for (;;) {
        // Always from the start again: a confirmed value may itself hold a placeholder.
        const auto open = text.find("<?");
        if (open == std::string::npos)
            return true;
        const auto close = text.find('>', open + 2);
        if (close == std::string::npos) {
            prompter.ShowError("Unterminated <?...> Sequence!");
            return false;
        }
        const std::string inner = text.substr(open + 2, close - open - 2);
        std::string name;
        std::string value;
        if (const auto colon = inner.find(':'); colon != std::string::npos) {
            name = inner.substr(0, colon);
            const auto remembered = memory.find(name);
            value = remembered != memory.end() ? remembered->second : inner.substr(colon + 1);
        } else {
            name = inner;
            // A name without a default is entered at once, so a cancelled query leaves it empty.
            value = memory[name];
        }
        if (!prompter.Query("Enter Parameter Value", name, value))
            return false;
        memory[name] = value;
        text = ReplaceAll(text, "<?" + inner + ">", value);
    }
}
