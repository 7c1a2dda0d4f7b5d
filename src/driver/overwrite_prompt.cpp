#include "driver/overwrite_prompt.h"

#include <cctype>
#include <cstdio>

#include "conversion_state.h"
#include "platform/console.h"

bool askOverwrite(const std::string& path, std::FILE* console) {
    writeConsoleText(console, formatText("File \"%s\" exists. Do you want to overwrite it? (y/n) ",
                                         path.c_str()));
    std::fflush(console);  // the question must be seen before the answer is read
    int character = std::getchar();
    while (character != EOF && std::isspace(character))
        character = std::getchar();
    std::string word;
    while (character != EOF && !std::isspace(character)) {
        word += static_cast<char>(character);
        character = std::getchar();
    }
    return !word.empty() && (word[0] == 'y' || word[0] == 'Y');
}
