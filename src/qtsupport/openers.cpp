#include "openers.h"

#include "fileNames.h"
#include "prompts.h"
#include "shell.h"

namespace tonvert {

void openUrlOrSay(Prompts& prompts, Shell& shell, const std::string& url) {
    shell.openUrl(url, [&prompts, &shell, url](const OpenFailure& failure) {
        const std::string text = "Tonvert could not open\n\n" + url + "\n\n" + failure.reason +
                                 "\n\nCopy the address to the clipboard?";
        if (prompts.show(PromptKind::error, "", text, PromptButtons::yesNo) == PromptAnswer::yes)
            shell.copyToClipboard(url);
    });
}

void playFileOrSay(Prompts& prompts, Shell& shell, const std::string& path) {
    shell.playFile(path, [&prompts, name = fileNameOf(path)](const OpenFailure& failure) {
        const std::string text =
            failure.noProgram ? "No program is set up to open \"" + name + "\"."
                              : "Tonvert could not open \"" + name + "\".\n\n" + failure.reason;
        prompts.show(PromptKind::error, "", text, PromptButtons::ok);
    });
}

} // namespace tonvert
